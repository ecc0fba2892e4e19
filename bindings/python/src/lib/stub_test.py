"""zelvane.pyi against the module it describes: names, bases, text signatures and docstrings.

The stub is read beside the imported module, so the copy that users see is the one checked.
"""
import ast
import inspect
import pathlib
import typing

import pytest

import zelvane

STUB = pathlib.Path(zelvane.__file__).with_name("zelvane.pyi")


def parse_stub():
    return ast.parse(STUB.read_text(encoding="utf-8"), filename=str(STUB))


def is_typed_dict(node):
    return any(isinstance(b, ast.Name) and b.id == "TypedDict" for b in node.bases)


def text_signature(fn, method):
    """The stub's arguments in the form of __text_signature__: "($self, /, a, *, b=None)"."""
    a = fn.args
    positional = a.posonlyargs + a.args
    defaults = [None] * (len(positional) - len(a.defaults)) + list(a.defaults)
    parts = []
    for i, (arg, default) in enumerate(zip(positional, defaults)):
        name = "$" + arg.arg if method and i == 0 else arg.arg
        parts.append(name if default is None else f"{name}={ast.unparse(default)}")
        if a.posonlyargs and i == len(a.posonlyargs) - 1:
            parts.append("/")
    if a.vararg:
        parts.append("*" + a.vararg.arg)
    elif a.kwonlyargs:
        parts.append("*")
    for arg, default in zip(a.kwonlyargs, a.kw_defaults):
        parts.append(arg.arg if default is None else f"{arg.arg}={ast.unparse(default)}")
    if a.kwarg:
        parts.append("**" + a.kwarg.arg)
    return "(" + ", ".join(parts) + ")"


def is_property(fn):
    return any(isinstance(d, ast.Name) and d.id == "property" for d in fn.decorator_list)


def stub_docstring(node):
    return ast.get_docstring(node, clean=True)


def runtime_docstring(obj):
    return inspect.cleandoc(obj.__doc__) if obj.__doc__ else None


STUB_TREE = parse_stub()
CLASSES = {n.name: n for n in STUB_TREE.body if isinstance(n, ast.ClassDef) and not is_typed_dict(n)}
FUNCTIONS = {n.name: n for n in STUB_TREE.body if isinstance(n, ast.FunctionDef)}


def test_stub_ships_beside_the_module():
    assert STUB.is_file()


def test_names_match_the_module():
    stub_all = next(ast.literal_eval(n.value) for n in STUB_TREE.body
                    if isinstance(n, ast.Assign) and n.targets[0].id == "__all__")
    assert stub_all == zelvane.__all__
    public = {n for n in dir(zelvane) if not n.startswith("_")}
    assert public == set(CLASSES) | set(FUNCTIONS)


@pytest.mark.parametrize("name", sorted(CLASSES))
def test_class_matches(name):
    node, cls = CLASSES[name], getattr(zelvane, name)
    assert [ast.unparse(b) for b in node.bases] == [
        b.__name__ for b in cls.__bases__ if b is not object]
    assert stub_docstring(node) == runtime_docstring(cls)
    members = {n.name: n for n in node.body if isinstance(n, ast.FunctionDef)}
    # What the class defines itself (Diagnostics' getters, Snapshot's methods); the slot
    # wrappers of the comparison, hash and repr are the interpreter's.
    own = {k: v for k, v in vars(cls).items()
           if not k.startswith("_") and (inspect.ismethoddescriptor(v) or inspect.isdatadescriptor(v))}
    assert {k for k in members if not k.startswith("_")} == set(own)
    for key, value in own.items():
        fn = members[key]
        assert stub_docstring(fn) == runtime_docstring(value), key
        if inspect.isdatadescriptor(value):
            assert is_property(fn), f"{name}.{key} is an attribute, not a method"
        else:
            assert not is_property(fn), f"{name}.{key} is a method, not an attribute"
            assert text_signature(fn, method=True) == value.__text_signature__, key
    # Dunders the stub declares exist on the class and are its own, not object's (which has
    # no __enter__ or __exit__ at all).
    for key in (k for k in members if k.startswith("__")):
        assert getattr(cls, key) is not getattr(object, key, None), key


def test_error_attributes_are_set_on_raised_errors():
    annotated = [n.target.id for n in CLASSES["ZelvaneError"].body if isinstance(n, ast.AnnAssign)]
    assert annotated == ["code"]
    with pytest.raises(zelvane.ZelvaneError) as raised:
        zelvane.read(precedence="sideways")
    assert raised.value.code == "ERR_INVALID_ARG_VALUE"


@pytest.mark.parametrize("name", sorted(FUNCTIONS))
def test_function_matches(name):
    node, fn = FUNCTIONS[name], getattr(zelvane, name)
    assert text_signature(node, method=False) == fn.__text_signature__
    assert stub_docstring(node) == runtime_docstring(fn)


def test_typed_dicts_describe_the_export():
    """The stub's TypedDicts, evaluated, against real exports of every kind of value."""
    namespace = {}
    exec(compile(STUB_TREE, str(STUB), "exec"), namespace)
    modes = {typing.get_type_hints(m)["kind"].__args__[0]: m
             for m in typing.get_args(namespace["ModeDict"])}
    entries = {typing.get_type_hints(e)["kind"].__args__[0]: e
               for e in typing.get_args(namespace["ProxyEntryDict"])}

    def check_keys(value, td):
        # Keys in order, and only those; total=False dicts may leave keys out.
        keys = list(typing.get_type_hints(td))
        if td.__total__:
            assert list(value) == keys, td.__name__
        else:
            assert [k for k in keys if k in value] == list(value), td.__name__

    def check_mode(mode):
        td = modes[mode["kind"]]
        check_keys(mode, td)
        if mode["kind"] == "manual":
            check_keys(mode["proxies"], namespace["ProxiesDict"])
            for entry in mode["proxies"].values():
                check_keys(entry, entries[entry["kind"]])
            check_keys(mode["bypass"], namespace["BypassDict"])

    export = zelvane.read(env={
        "http_proxy": "u:p@192.0.2.1:8080", "https_proxy": " ", "ftp_proxy": "[zz",
        "all_proxy": "socks5://[::1]:1080", "no_proxy": "example.com,a b"}).to_dict()
    check_keys(export, namespace["SnapshotDict"])
    check_mode(export["mode"])
    assert {e["kind"] for e in export["mode"]["proxies"].values()} == set(entries)
    for source in export["sources"]:
        check_keys(source, namespace["SourceDict"])
        check_mode(source["mode"])
    check_mode(zelvane.read(env={}, precedence="ignore").to_dict()["mode"])
