"""The module's main job: read the settings of this machine and show what was read.

Passwords in the export are shown as "***" unless --show-passwords is given."""
import argparse
import json
import os
import sys
import urllib.parse

import zelvane

PROXY_VARIABLES = ["http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy",
                   "REQUEST_METHOD"]


def variables_read():
    """The names of the process environment that the reading looks at, in any letter case."""
    wanted = {name.lower() for name in PROXY_VARIABLES}
    return sorted(name for name in os.environ if name.lower() in wanted)


def mask_url(url):
    parts = urllib.parse.urlsplit(url)
    if parts.password is None:
        return url
    user = parts.username or ""
    host = parts.netloc.rpartition("@")[2]
    return urllib.parse.urlunsplit(parts._replace(netloc=f"{user}:***@{host}"))


def masked(value):
    """A copy of the export with every password and every PAC URL's password as "***"."""
    if isinstance(value, dict):
        out = {}
        for key, item in value.items():
            if key == "password" and item is not None:
                out[key] = "***"
            elif key == "url" and isinstance(item, str):
                out[key] = mask_url(item)
            else:
                out[key] = masked(item)
        return out
    if isinstance(value, list):
        return [masked(item) for item in value]
    return value


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--show-passwords", action="store_true",
                        help="show proxy passwords in the export instead of ***")
    parser.add_argument("--url", default="https://www.example.com/",
                        help="the URL whose route is shown (default: %(default)s)")
    args = parser.parse_args()

    snapshot = zelvane.read()
    diagnostics = snapshot.diagnostics()
    names = variables_read()
    print("read from the process environment:", ", ".join(names) if names else "no proxy variable")
    if diagnostics.os_readable:
        print("read from the system:", ", ".join(s for s in diagnostics.sources if s != "Env"))
    else:
        print("read from the system: nothing (this build has no system reader)")
    print()
    print(snapshot)
    print()
    export = snapshot.to_dict()
    print("export:" if args.show_passwords else "export (passwords as ***; --show-passwords shows them):")
    print(json.dumps(export if args.show_passwords else masked(export), indent=2))
    print()
    print(diagnostics)
    print()
    # "auto": a script the settings carry runs in QuickJS-ng, a PAC URL or WPAD goes to the
    # system's resolver where there is one; otherwise the route names what nobody evaluated.
    # The repr masks proxy passwords; route.steps would show them.
    try:
        route = snapshot.route(args.url, pac="auto")
    except zelvane.ZelvaneError as failure:
        print(f"route of {args.url}: {failure.code}: {failure}")
    else:
        print(f"route of {args.url}:")
        print(route)


if __name__ == "__main__":
    sys.exit(main())
