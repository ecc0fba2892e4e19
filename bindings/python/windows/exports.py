"""The names python313t.dll exports that an extension module on Windows can import.

    python exports.py --cc MINGW_GCC --include WIN_INCLUDE --source CPYTHON_SOURCE --output FILE

A name is listed when both hold:

- the interpreter's headers declare it for an extension module on Windows: Python.h and the other
  public headers of WIN_INCLUDE (Include/ with the free-threaded pyconfig.h of Windows),
  preprocessed as a module that includes them sees them, declare it PyAPI_FUNC or PyAPI_DATA,
  which there means dllimport. What the headers keep to other systems (PyOS_BeforeFork, under
  HAVE_FORK) is not declared;
- the interpreter's Windows build defines it where the same declaration means dllexport: one of
  the sources that PCbuild/pythoncore.vcxproj compiles into the DLL, preprocessed under the
  configuration of that project (Py_BUILD_CORE, the x64 release definitions), defines it, in its
  own text or in what it includes (Python/thread_nt.h through Python/thread.c), with a dllexport
  declaration of it in the same unit. Preprocessing sees the definitions that macros make
  (PyExc_TypeError, pasted by SimpleExtendsException) and leaves out those under another
  system's conditions, as the compiler does. A source the project does not list, or a part of
  one under #ifndef MS_WINDOWS, defines nothing here.

The headers that the Windows build generates (the frozen modules) or takes from outside the source
(zlib) stand in empty: what they hold is no C API of the interpreter (the frozen modules' bytes,
zlib's own declarations). Prints one line on what it found; fails when a source cannot be
preprocessed, or when the headers declare nothing.
"""

import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

# What pyproject.props and pythoncore.vcxproj define for every source of the DLL in the x64
# release build: WIN32, PY3_DLLNAME, _WIN64 and _M_X64, NDEBUG; _USRDLL, Py_BUILD_CORE,
# Py_BUILD_CORE_BUILTIN, Py_ENABLE_SHARED, MS_DLL_ID; _Py_HAVE_ZLIB with the externals that a
# release has. Py_GIL_DISABLED comes from pyconfig.h.
CORE_DEFINES = ["WIN32", 'PY3_DLLNAME=L"python3t"', "_WIN64", "_M_X64", "NDEBUG",
                "_USRDLL", "Py_BUILD_CORE", "Py_BUILD_CORE_BUILTIN", "Py_ENABLE_SHARED",
                'MS_DLL_ID="3.13"', "_Py_HAVE_ZLIB"]
# Their include folders, in order, below the source; None is that of pyconfig.h
# ($(GeneratedPyConfigDir)), here the folder of the module's headers.
CORE_INCLUDES = ["Include", "Include/internal", "Include/internal/mimalloc", None, "PC",
                 "Modules/_hacl/include", "Modules/_hacl/internal", "Python"]
MSBUILD = "{http://schemas.microsoft.com/developer/msbuild/2003}"

TOKEN = re.compile(r"""L?"(?:\\.|[^"\\\n])*"|L?'(?:\\.|[^'\\\n])*'"""
                   r"""|[A-Za-z_]\w*|\.?\d(?:[eEpP][+-]|[\w.])*|\S""")
MARKER = re.compile(r'^# \d+ "((?:[^"\\]|\\.)*)"((?: \d)*)\n', re.M)
IMPORTED = re.compile(r"__declspec\s*\(\s*dllimport\s*\)|__attribute__\s*\(\(\s*dllimport\s*\)\)")
EXPORTED = re.compile(r"__declspec\s*\(\s*dllexport\s*\)|__attribute__\s*\(\(\s*dllexport\s*\)\)")
MISSING = re.compile(r"fatal error: ([^:\n]+): No such file or directory")

KEYWORDS = frozenset("""auto break case char const continue default do double else enum extern float
    for goto if inline int long register restrict return short signed sizeof static struct switch
    typedef union unsigned void volatile while _Alignas _Alignof _Atomic _Bool _Complex _Generic
    _Imaginary _Noreturn _Static_assert _Thread_local __inline __inline__ __restrict __restrict__
    __const __volatile__ __extension__ __thread __int64 __int128 __signed__ __typeof__ typeof
    __builtin_va_list __unaligned __ptr32 __ptr64""".split())
ATTRIBUTES = frozenset(["__attribute__", "__declspec", "__asm__", "__asm", "asm"])
OPEN, CLOSE = "([{", ")]}"


def tokens(text):
    return TOKEN.findall(text)


def close_of(toks, i):
    """The index just past the group that opens at toks[i]."""
    depth = 0
    for j in range(i, len(toks)):
        t = toks[j]
        if t in OPEN:
            depth += 1
        elif t in CLOSE:
            depth -= 1
            if depth == 0:
                return j + 1
    return len(toks)


def items(toks):
    """Top-level items of a declaration: tokens, and groups as (opener, inner tokens); the
    attributes and asm labels left out."""
    out, i = [], 0
    while i < len(toks):
        t = toks[i]
        if t in ATTRIBUTES and i + 1 < len(toks) and toks[i + 1] == "(":
            i = close_of(toks, i + 1)
        elif t in OPEN:
            j = close_of(toks, i)
            out.append((t, toks[i + 1:j - 1]))
            i = j
        else:
            out.append(t)
            i += 1
    return out


def nested(group):
    """The inner items of a group that holds a declarator, (*name) or (*name(...)), or None."""
    if group[0] != "(":
        return None
    inner = items(group[1])
    return inner if inner and inner[0] in ("*", "^") else None


def declarator(chunk):
    """(name, is_function) of one declarator among its specifiers, or None."""
    found, k = None, 0
    while k < len(chunk):
        it = chunk[k]
        if it in ("struct", "union", "enum"):
            # The tag and the body name a type, not what is declared.
            k += 1
            if k < len(chunk) and isinstance(chunk[k], str) and chunk[k] not in KEYWORDS:
                k += 1
            if k < len(chunk) and isinstance(chunk[k], tuple) and chunk[k][0] == "{":
                k += 1
            continue
        if isinstance(it, str):
            if (it[0].isalpha() or it[0] == "_") and it not in KEYWORDS:
                # The last identifier before the suffixes is the name; those before it are types.
                found = (it, False)
                nxt = chunk[k + 1] if k + 1 < len(chunk) else None
                if isinstance(nxt, tuple) and nxt[0] in "([" and nested(nxt) is None:
                    return (it, nxt[0] == "(")
        else:
            inner = nested(it)
            if inner is not None:
                return declarator(inner)  # what follows the group is its suffix
        k += 1
    return found


def names(statement):
    """What one declaration or definition names: (name, is_function, has_initializer) each."""
    out, chunk = [], []
    for it in statement + [","]:
        if it == ",":
            init = "=" in chunk
            decl = declarator(chunk[:chunk.index("=")] if init else chunk)
            if decl:
                out.append((decl[0], decl[1], init))
            chunk = []
        else:
            chunk.append(it)
    return out


def defined(toks):
    """The names that the top-level text toks gives an external definition."""
    out, i, start, n = set(), 0, 0, len(toks)
    while i < n:
        t = toks[i]
        if t == "extern" and i + 2 < n and toks[i + 1][0] == '"' and toks[i + 2] == "{":
            i += 3  # extern "C" { is no scope of its own
            start = i
        elif t == ";" or t == "}":
            stmt = items(toks[start:i])
            i += 1
            start = i
            top = [x for x in stmt if isinstance(x, str)]
            if not stmt or "typedef" in top or "static" in top:
                continue
            # A declaration is a definition when it has an initializer or, not extern and no
            # function, it is a tentative one.
            for name, function, init in names(stmt):
                if init or not (function or "extern" in top):
                    out.add(name)
        elif t in OPEN:
            j = close_of(toks, i)
            if t == "{" and i > start and toks[i - 1] == ")" and "=" not in toks[start:i]:
                head = items(toks[start:i])
                top = [x for x in head if isinstance(x, str)]
                decl = declarator(head)
                if decl and decl[1] and "static" not in top:
                    out.add(decl[0])
                start = j
            i = j
        else:
            i += 1
    return out


def declared(text, attribute):
    """The names declared with the attribute (dllimport, dllexport) in the text."""
    out = set()
    for m in attribute.finditer(text):
        end = text.find(";", m.end())
        for name, _, _ in names(items(tokens(text[m.end():end]))):
            out.add(name)
    return out


def regions(text, keep):
    """The preprocessed text of the files that keep(path, is_system) accepts, joined."""
    parts, pos, on = [], 0, True
    for m in MARKER.finditer(text):
        if on:
            parts.append(text[pos:m.start()])
        on = keep(m.group(1), " 3" in m.group(2))
        pos = m.end()
    if on:
        parts.append(text[pos:])
    return "\n".join(line for line in "".join(parts).split("\n") if not line.startswith("#"))


def preprocess(cc, args, source, stubs=None):
    """The preprocessed text of source. With stubs, empty headers stand in for those the source
    tree lacks, each made in stubs.folder on its first miss and named in stubs.made."""
    tried = set()
    while True:
        run = subprocess.run([cc, "-E", *args, *([f"-I{stubs.folder}"] if stubs else []), source],
                             capture_output=True, text=True, errors="replace",
                             env={**os.environ, "LC_ALL": "C"})  # the message MISSING reads
        if run.returncode == 0:
            return run.stdout
        missing = MISSING.search(run.stderr)
        if not stubs or not missing or missing.group(1) in tried:
            sys.exit(f"exports.py: cannot preprocess {source}:\n{run.stderr}")
        tried.add(missing.group(1))
        stub = os.path.join(stubs.folder, missing.group(1))
        os.makedirs(os.path.dirname(stub), exist_ok=True)
        open(stub, "a").close()
        stubs.made.add(missing.group(1))


class Stubs:
    """The folder of the empty stand-ins, shared by every unit, and the names made there."""

    def __init__(self, folder):
        self.folder, self.made = folder, set()


def sources(source):
    """The C files pythoncore.vcxproj compiles, each with its own extra definitions; those of
    its items outside the source tree (zlib's, $(zlibDir)) are left out."""
    project = ET.parse(os.path.join(source, "PCbuild", "pythoncore.vcxproj"))
    out = []
    for item in project.iter(MSBUILD + "ClCompile"):
        path = item.get("Include")
        if not path or "$(" in path:
            continue
        defines = []
        for meta in item.findall(MSBUILD + "PreprocessorDefinitions"):
            for d in re.split(r"[;\s]+", meta.text or ""):
                if d and not d.startswith("%("):
                    defines.append(re.sub(r"\$\([^)]*\)", "", d))
        out.append((os.path.normpath(os.path.join(source, "PCbuild", path.replace("\\", "/"))),
                    defines))
    if not out:
        sys.exit("exports.py: PCbuild/pythoncore.vcxproj lists no sources")
    return out


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--cc", required=True)
    p.add_argument("--include", required=True)
    p.add_argument("--source", required=True)
    p.add_argument("--output", required=True)
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    a = p.parse_args()
    include = os.path.realpath(a.include)
    source = os.path.realpath(a.source)

    # What the headers declare for a module: Python.h, then every other public header.
    headers = ["Python.h"] + sorted(h for h in os.listdir(include)
                                    if h.endswith(".h") and h not in ("Python.h", "pyconfig.h"))
    with tempfile.TemporaryDirectory() as work:
        module = os.path.join(work, "module.c")
        with open(module, "w") as f:
            f.writelines(f"#include <{h}>\n" for h in headers)
        text = preprocess(a.cc, [f"-I{include}"], module)
        api = declared(regions(text, lambda path, system: path.startswith(include + "/")), IMPORTED)
        if not api:
            sys.exit(f"exports.py: the headers of {include} declare nothing dllimport")

        # What the DLL's sources define, each unit on its own thread (the interpreter running this
        # may be free-threaded) and its own preprocessor.
        stubs = Stubs(os.path.join(work, "stubs"))
        dirs = [include if d is None else os.path.join(source, d) for d in CORE_INCLUDES]
        common = [f"-D{d}" for d in CORE_DEFINES] + [f"-I{d}" for d in dirs]

        def unit(item):
            path, defines = item
            text = preprocess(a.cc, common + [f"-D{d}" for d in defines], path, stubs)
            # The unit's own text and the interpreter's headers; the system's declare no C API.
            ours = regions(text, lambda p, system: not (system or p.startswith(stubs.folder + "/")
                                                        or p.startswith("<")))
            return defined(tokens(ours)) & declared(ours, EXPORTED)

        units = sources(source)
        with concurrent.futures.ThreadPoolExecutor(max(1, a.jobs)) as pool:
            made = set().union(*pool.map(unit, units))

    exported = sorted(api & made)
    with open(a.output + ".tmp", "w") as f:
        f.writelines(n + "\n" for n in exported)
    os.replace(a.output + ".tmp", a.output)
    print(f"exports.py: {len(exported)} names of python313t.dll that a module can import: "
          f"{len(api)} declared for it, defined by {len(units)} sources "
          f"({len(stubs.made)} generated or external headers stood in empty)")


if __name__ == "__main__":
    main()
