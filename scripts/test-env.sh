# Sourced from build-asan/ by the test and soak commands: the environment every test and
# every program the tests start runs with.
export QT_QPA_PLATFORM=offscreen
# The sanitizers split their options at ':' and white space, so the suppressions path is quoted:
# the checkout may sit in a folder such as "My Projects".
norv_source_root=$(cd "$PWD/.." && pwd)
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=\"$norv_source_root/tests/lsan.supp\":print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# What the tests compare is pinned, whatever the desktop has: the fonts (the project's own
# fontconfig file: monospace is DejaVu Sans Mono), the locale and the time zone. Tests of the
# user's locale set it themselves.
export FONTCONFIG_FILE="$norv_source_root/tests/fontconfig/fonts.conf"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC
unset LANGUAGE
unset norv_source_root
