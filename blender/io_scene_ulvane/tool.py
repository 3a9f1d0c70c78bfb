"""Finding and running ulvtool. Free of bpy, so the rules read on their own."""

import os
import platform
import re
import shutil
import stat
import subprocess
import sys

TOOL_NAME = "ulvtool.exe" if sys.platform == "win32" else "ulvtool"

_COUNTS = re.compile(r"Sections: (\d+) kept, (\d+) changed, (\d+) added, (\d+) dropped")


class ToolError(Exception):
    """A message for the operator's error report, one line."""


def bundled_path(addon_dir, system=None, machine=None):
    """The executable the release zip carries for this system, or None."""
    system = sys.platform if system is None else system
    machine = (platform.machine() if machine is None else machine).lower()
    if system.startswith("linux") and machine in ("x86_64", "amd64"):
        return os.path.join(addon_dir, "bin", "linux-x86_64", "ulvtool")
    # Windows 11 on ARM runs x64 programs too.
    if system == "win32" and machine in ("amd64", "x86_64", "arm64"):
        return os.path.join(addon_dir, "bin", "windows-x64", "ulvtool.exe")
    return None


def _make_executable(path):
    # Blender unpacks an add-on's zip without the files' modes, so the bundled
    # tool arrives without its execute bits.
    if os.name != "posix" or os.access(path, os.X_OK):
        return
    mode = os.stat(path).st_mode
    try:
        os.chmod(path, mode | (mode & 0o444) >> 2 | stat.S_IXUSR)
    except OSError as error:
        raise ToolError("ulvtool in the add-on (%s) is not executable and cannot be made so: %s"
                        % (path, error.strerror))


def find_tool(addon_dir, preference="", search_path=None, system=None, machine=None):
    """The ulvtool to run: the add-on's own, then the preference, then PATH.

    The preference may name the executable or the folder holding it. Raises
    ToolError naming every place looked in when none has it.
    """
    looked = []
    bundled = bundled_path(addon_dir, system, machine)
    if bundled and os.path.isfile(bundled):
        _make_executable(bundled)
        return bundled
    if bundled:
        looked.append("not in the add-on (%s)" % bundled)
    else:
        looked.append("the add-on carries none for %s %s"
                      % (system or sys.platform, machine or platform.machine()))

    if preference:
        candidate = preference
        if os.path.isdir(candidate):
            candidate = os.path.join(candidate, TOOL_NAME)
        if os.path.isfile(candidate):
            return candidate
        looked.append("not at %s (the add-on's preferences)" % candidate)
    else:
        looked.append("no path set in the add-on's preferences")

    found = shutil.which(TOOL_NAME, path=search_path)
    if found:
        return found
    looked.append("not on PATH")
    raise ToolError("ulvtool not found: " + "; ".join(looked))


def textures_env(folder, environ):
    """The environment for ulvtool with FOLDER searched first for textures."""
    env = dict(environ)
    if folder:
        earlier = env.get("ULVTOOL_TEXTURES")
        env["ULVTOOL_TEXTURES"] = folder + (os.pathsep + earlier if earlier else "")
    return env


def run(tool, arguments, env=None):
    """Runs ulvtool; returns its exit status and the lines it printed."""
    flags = 0
    if sys.platform == "win32":
        flags = subprocess.CREATE_NO_WINDOW  # no console flashing up over Blender
    try:
        done = subprocess.run([tool] + list(arguments), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                              creationflags=flags)
    except OSError as error:
        raise ToolError("Cannot run %s: %s" % (tool, error.strerror or error))
    text = done.stdout.decode("utf-8", "replace")
    return done.returncode, [line for line in text.splitlines() if line.strip()]


def failure(status, lines):
    """What went wrong: ulvtool's own last line, which says why."""
    if lines:
        return lines[-1].strip()
    return "ulvtool failed with exit status %d" % status


def section_counts(lines):
    """(kept, changed, added, dropped) from ulvtool -v, or None."""
    for line in lines:
        match = _COUNTS.fullmatch(line.strip())
        if match:
            return tuple(int(number) for number in match.groups())
    return None


def notes(lines):
    """What else ulvtool said: its notes on what changed on the way."""
    return [line.strip() for line in lines if not _COUNTS.fullmatch(line.strip())]


def mod_path(path):
    """PATH ending in .mod in any case, as given, else with .mod added.

    Game files are often named .MOD: lowering the case would write a second
    file beside the one meant on a case-sensitive disk.
    """
    if path.lower().endswith(".mod"):
        return path
    return path + ".mod"
