# Sourced from build-asan/ by the test and soak commands: the environment every test and
# every program the tests start runs with.
export QT_QPA_PLATFORM=offscreen
# The sanitizers split their options at ':' and white space, so the suppressions path is quoted:
# the checkout may sit in a folder such as "My Projects".
norv_source_root=$(cd "$PWD/.." && pwd)
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=\"$norv_source_root/tests/lsan.supp\":print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The fonts the tests draw and measure in are pinned, whatever the desktop has: the project's
# own fontconfig file (monospace is DejaVu Sans Mono). The locale and the time zone stay the
# user's, as the product meets them; a test whose texts depend on either sets its own.
export FONTCONFIG_FILE="$norv_source_root/tests/fontconfig/fonts.conf"
unset norv_source_root
