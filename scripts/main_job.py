"""The module's main job: read the settings of this machine, show what was read, and where a
request to one URL would go under them."""
import json
import sys

import zelvane

URL = sys.argv[1] if len(sys.argv) > 1 else "https://www.example.com/"

snapshot = zelvane.read()
print(snapshot)
print()
print("export:")
print(json.dumps(snapshot.to_dict(), indent=2))
print()
print(snapshot.diagnostics())
print()
# "auto": a script the settings carry runs in QuickJS-ng, a PAC URL or WPAD goes to the
# system's resolver where there is one; otherwise the route says what was left unevaluated.
try:
    route = snapshot.route(URL, pac="auto")
except zelvane.ZelvaneError as failure:
    print(f"route of {URL}: {failure.code}: {failure}")
else:
    print(f"route of {URL}:")
    print(route)
