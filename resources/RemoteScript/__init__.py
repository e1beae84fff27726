"""NorvSession, the demo build of the Live Remote Script that the demo runtime ships.

Live loads a Remote Script's package and calls create_instance with its control-surface
interface. This stand-in registers nothing: it lets the Live page check and install the bundle
on a machine without the real engine.
"""


def create_instance(c_instance):
    return None
