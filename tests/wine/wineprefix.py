#!/usr/bin/env python3
"""Wine prefixes for the tests of the Windows build.

Making a prefix (wineboot) takes about half a minute, so the build makes one
template and every test gets a clone of its own: hard links for the system
files, which Wine only reads, and real copies of the registry files, which it
rewrites.

    wineprefix.py prepare TEMPLATE       make the template (the build does this)
    wineprefix.py clone TEMPLATE PREFIX  a prefix of one's own
"""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
# Runs a Windows program, or a Wine tool such as wineboot, under the Wine that
# TESSMOOR_WINE_ARCH names (win32 or win64), by whichever route this machine has.
WINE = os.path.join(HERE, "wine-run")
# The machine's wineserver (64-bit) serves 32-bit and 64-bit Wine alike.
WINESERVER = "/usr/lib/wine/wineserver"
WINE_FONTS = "/usr/share/wine/fonts"  # fonts-wine
CJK_FACE = "WenQuanYi Micro Hei"  # fonts-wqy-microhei
CJK_FILE = "wqy-microhei.ttc"

# Wine finds no CJK face by itself. The window's labels ask for "微软雅黑"
# (Microsoft YaHei); Wine's UI font (Tahoma and its aliases), used for the
# title and the buttons, falls back to the CJK face through font linking.
REPLACED_FACES = ["微软雅黑", "Microsoft YaHei", "SimSun", "宋体"]
LINKED_FACES = ["Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "Segoe UI"]


def wine_env(prefix, **extra):
    """The environment for Wine programs in prefix, quiet; wine-run adds the rest (no Mono or Gecko installers)."""
    env = dict(os.environ, WINEPREFIX=os.path.abspath(prefix), WINEDEBUG="-all")
    env.update(extra)
    return env


def _reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _reg_multi_sz(items):
    data = ("\0".join(items) + "\0\0").encode("utf-16-le")
    return "hex(7):" + ",".join(f"{b:02x}" for b in data)


def registry_text():
    lines = ["Windows Registry Editor Version 5.00", "",
             r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
    lines += [f"{_reg_string(face)}={_reg_string(CJK_FACE)}" for face in REPLACED_FACES]
    lines += ["", r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]"]
    lines += [f"{_reg_string(face)}={_reg_multi_sz([CJK_FILE + ',' + CJK_FACE])}" for face in LINKED_FACES]
    # Addresses go to the host's xdg-open (the tests' fake one) and nowhere else.
    lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\WineBrowser]", '"Browsers"="xdg-open"']
    # No window manager under Xvfb: Wine draws the title bars itself.
    lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\X11 Driver]", '"Decorated"="N"', ""]
    return "\r\n".join(lines)


def import_registry(prefix, text):
    """Imports a .reg text into prefix (regedit reads UTF-16 with a byte-order mark)."""
    with tempfile.NamedTemporaryFile(suffix=".reg", dir=prefix, delete=False) as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        path = f.name
    try:
        subprocess.run([WINE, "regedit", "/S", "Z:" + path.replace("/", "\\")], env=wine_env(prefix),
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    finally:
        os.unlink(path)


def set_dpi(prefix, dpi):
    """Sets the DPI that Wine reports (LogPixels); takes effect for programs started afterwards."""
    value = f"dword:{dpi:08x}"
    import_registry(prefix, "\r\n".join([
        "Windows Registry Editor Version 5.00", "",
        r"[HKEY_CURRENT_USER\Control Panel\Desktop]", f'"LogPixels"={value}', "",
        r"[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts]",
        f'"LogPixels"={value}', ""]))


def check_wine():
    """Raises, with wine-run's one-line reason, when this machine cannot run the build's programs."""
    result = subprocess.run([WINE, "--check"], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(result.stderr.strip() or f"wine-run --check failed ({result.returncode})")


def stop_server(prefix):
    """Ends the prefix's wineserver and every Wine process in it, and waits for that."""
    subprocess.run([WINESERVER, "-k"], env=wine_env(prefix), stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-w"], env=wine_env(prefix), stderr=subprocess.DEVNULL)


def prepare(template):
    check_wine()
    template = os.path.abspath(template)
    partial = template + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    env = wine_env(partial)
    env.pop("DISPLAY", None)
    subprocess.run([WINE, "wineboot", "--init"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=600)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=600)
    import_registry(partial, registry_text())
    # Debian's Wine does not find its own fonts where it looks for them, but it
    # reads Windows' font folder: Marlett draws the title bar's buttons. (Its
    # Tahoma stays out: the stand-in fontconfig gives has the CJK glyphs that
    # the title needs, which Tahoma Bold would not get through font linking.)
    marlett = os.path.join(WINE_FONTS, "marlett.ttf")
    if os.path.exists(marlett):
        shutil.copy(marlett, os.path.join(partial, "drive_c", "windows", "Fonts"))
    subprocess.run([WINESERVER, "-w"], env=env, timeout=600)
    if not os.path.exists(os.path.join(partial, "system.reg")):
        raise RuntimeError("wineboot made no prefix")
    shutil.rmtree(template, ignore_errors=True)
    os.rename(partial, template)


def clone(template, prefix):
    template, prefix = os.path.abspath(template), os.path.abspath(prefix)
    if not os.path.exists(os.path.join(template, "system.reg")):
        raise RuntimeError(f"no Wine prefix template at {template}: build the tests first")
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    subprocess.run(["cp", "-al", template, prefix], check=True)
    for name in os.listdir(template):
        if name.endswith(".reg"):
            os.unlink(os.path.join(prefix, name))
            shutil.copy2(os.path.join(template, name), os.path.join(prefix, name))


def main(argv):
    if len(argv) == 3 and argv[1] == "prepare":
        prepare(argv[2])
    elif len(argv) == 4 and argv[1] == "clone":
        clone(argv[2], argv[3])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
