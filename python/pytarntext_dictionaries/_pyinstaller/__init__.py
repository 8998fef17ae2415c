"""PyInstaller finds the hook here through the package's pyinstaller40 entry point, so that a bundle
that imports pytarntext_dictionaries carries its data files with no option on the command line."""

import os
from typing import List


def get_hook_dirs() -> List[str]:
    return [os.path.dirname(__file__)]
