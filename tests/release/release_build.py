"""Builds of the release presets in copies of the source tree, as a fresh clone would make them.

Each copy holds the sources (no build trees, no .git) and the GNU libiconv
sources that scripts/setup-deps fetched (not its 32-bit Wine), so it builds on its own.
"""

import os
import shutil
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
CMAKE = os.environ.get("TESSMOOR_CMAKE", "cmake")
JOBS = os.environ.get("TESSMOOR_BUILD_JOBS", "2")


def _ignore_top_level(directory, names):
    if os.path.normpath(directory) != SOURCE:
        return {"__pycache__"} & set(names)
    return {n for n in names if n.startswith("build") or n in (".git", "__pycache__")}


def copy_source(destination):
    """A clean copy of the sources at destination (whatever was there is removed)."""
    shutil.rmtree(destination, ignore_errors=True)
    shutil.copytree(SOURCE, destination, ignore=_ignore_top_level, symlinks=True)
    shutil.copytree(os.path.join(SOURCE, "build", "deps"), os.path.join(destination, "build", "deps"),
                    ignore=shutil.ignore_patterns("fetch.*", "wine32-qemu"))  # the builds need libiconv only
    return destination


def configure(source, preset, *definitions):
    """`cmake --preset PRESET` in source, with -D definitions; returns (build dir, configure output)."""
    result = subprocess.run([CMAKE, "--preset", preset, *(f"-D{d}" for d in definitions)], cwd=source,
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"configuring {preset} failed:\n{result.stdout}\n{result.stderr}")
    return os.path.join(source, "build", preset), result.stdout + result.stderr


def build(build_dir, *targets):
    result = subprocess.run(["nice", "-n", "10", CMAKE, "--build", build_dir, "-j", JOBS,
                             *(["--target", *targets] if targets else [])],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"building {' '.join(targets) or 'all'} in {build_dir} failed:\n"
                             f"{result.stdout[-20000:]}\n{result.stderr[-5000:]}")


def project_version(build_dir):
    """The version that project(... VERSION) gave this build."""
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("CMAKE_PROJECT_VERSION:"):
                return line.split("=", 1)[1].strip()
    raise AssertionError("no CMAKE_PROJECT_VERSION in " + build_dir)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def checked_package_folder(test, packages_dir, package_name):
    """packages/ holds exactly the package and a SHA256SUMS that `sha256sum --check` accepts for it."""
    test.assertEqual(sorted(os.listdir(packages_dir)), sorted([package_name, "SHA256SUMS"]))
    with open(os.path.join(packages_dir, "SHA256SUMS")) as f:
        listed = [line.split("  ", 1)[1].rstrip("\n") for line in f]
    test.assertEqual(listed, [package_name])
    check = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=packages_dir,
                           capture_output=True, text=True)
    test.assertEqual(check.returncode, 0, check.stdout + check.stderr)
