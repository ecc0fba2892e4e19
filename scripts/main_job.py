"""The module's main job: read the settings of this machine and show what was read."""
import json
import sys

import zelvane

snapshot = zelvane.read()
print(snapshot)
print()
print("export:")
print(json.dumps(snapshot.to_dict(), indent=2))
print()
print(snapshot.diagnostics())
