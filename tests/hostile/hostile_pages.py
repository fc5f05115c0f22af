"""Release pages whose first address is hostile, for the end-to-end tests of both window backends.

Each row's page holds the hostile value as link1, so that it also decides the
version label, and a plain address as link2: the click on "下载1" comes first,
and the call for "下载2" that follows it shows that the first click was handled.
Only that one call may reach the browser launcher.

127.0.0.1:47613 in a page is the host the release server rewrites to its own,
which is the build's built-in one.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "gui"))

from window_support import page_with_links  # noqa: E402

HOST = "127.0.0.1:47613"
PREFIX = f"http://{HOST}/KALMERDINE_"
SUFFIX = ".zip?update=21"
PLAIN = f"http://{HOST}/mirror/KALMERDINE_7.14.zip"
MIB = 1 << 20
# A version of a mebibyte, so the first address is over a mebibyte too: plain
# http with no forbidden byte, but far over the length that the address check
# allows (Windows takes no address of INTERNET_MAX_URL_LENGTH or more).
HUGE_VERSION = "7." + "1" * MIB
# An address of 2100 characters: over that limit, yet well within what xdg-open
# takes, so only the shared check keeps the GTK backend from opening it.
OVER_LIMIT_VERSION = "7." + "1" * (2100 - len(PREFIX) - len(SUFFIX) - 2)
CONTROL_VERSION = "7.14\x01\x07\t\x1b[2J\r\n\x7f"

# (name, link1, the version the label must show)
ROWS = [
    ("local file", "file:///etc/passwd", ""),
    ("Windows program", r"C:\Windows\System32\calc.exe", ""),
    ("network share", r"\\host\share\x.exe", ""),
    ("script", "javascript:alert(1)", ""),
    # The value ends only at '";' and CR, so the quote stays in the address;
    # the version is still found between the prefix and the suffix.
    ("quote, space and a browser flag", f'{PREFIX}7.14{SUFFIX}" --incognito', "7.14"),
    ("a mebibyte", f"{PREFIX}{HUGE_VERSION}{SUFFIX}", HUGE_VERSION),
    ("just over the address length limit", f"{PREFIX}{OVER_LIMIT_VERSION}{SUFFIX}", OVER_LIMIT_VERSION),
    ("control characters", f"{PREFIX}{CONTROL_VERSION}{SUFFIX}", CONTROL_VERSION),
]


def write_page(directory, link1):
    """The row's page file: link1 hostile, link2 PLAIN, CR LF line ends."""
    return page_with_links(directory, link1, PLAIN)


def plain_call(port):
    """What xdg-open must receive for the "下载2" click, as bytes."""
    return PLAIN.replace(HOST, f"127.0.0.1:{port}").encode()


def shown(text):
    """A caption for a failure message: short, control characters visible."""
    text = text if len(text) <= 60 else f"{text[:40]}...({len(text)} characters)"
    return ascii(text)
