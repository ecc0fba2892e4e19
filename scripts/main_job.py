"""The module's main job, as the README shows it."""
import sys

import zelvane

print("python:", sys.version.split()[0], "GIL enabled:", sys._is_gil_enabled())
print("zelvane registers:", ", ".join(zelvane.__all__))
