"""The exec step on module objects it did not expect: every failure is one exception."""

import importlib.util
import types

import pytest


def fresh_module():
    """A new, not yet executed module object of the extension, and its loader."""
    spec = importlib.util.find_spec("veltrane_py_bindings")
    return importlib.util.module_from_spec(spec), spec.loader


def test_existing_list_all_is_extended(m):
    module, loader = fresh_module()
    module.__all__ = ["already_here"]
    loader.exec_module(module)
    assert module.__all__ == ["already_here"] + m.__all__


def test_all_that_is_not_a_list_stops_the_import():
    module, loader = fresh_module()
    module.__all__ = ("sum_as_string",)
    with pytest.raises(TypeError) as info:
        loader.exec_module(module)
    assert info.value.args == ("'tuple' object is not an instance of 'list'",)
    assert not hasattr(module, "sum_as_string")


def test_all_lookup_error_other_than_attribute_error_stops_the_import():
    class Strict(types.ModuleType):
        @property
        def __all__(self):
            raise KeyError("no __all__ for you")

    module, loader = fresh_module()
    module.__class__ = Strict
    with pytest.raises(KeyError):
        loader.exec_module(module)


def test_setattr_failure_keeps_the_functions_added_before_it():
    class Picky(types.ModuleType):
        def __setattr__(self, name, value):
            if name == "vrn_build":
                raise RuntimeError("not this one")
            super().__setattr__(name, value)

    module, loader = fresh_module()
    module.__class__ = Picky
    with pytest.raises(RuntimeError, match="not this one"):
        loader.exec_module(module)
    assert module.__all__ == ["sum_as_string", "vrn_canonicalize", "vrn_error_kind", "vrn_build"]
    assert module.vrn_error_kind("") == "empty"
    assert not hasattr(module, "vrn_service")


def test_module_without_a_str_name_stops_the_import():
    module, loader = fresh_module()
    module.__name__ = 42  # the interpreter cannot name the functions' module
    with pytest.raises(SystemError):
        loader.exec_module(module)
    assert not hasattr(module, "__all__")
