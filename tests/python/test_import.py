import korvel_beads
from korvel_beads import _native


def test_native_module_imports_under_package():
    assert _native.__name__ == "korvel_beads._native"
    assert korvel_beads._native is _native
