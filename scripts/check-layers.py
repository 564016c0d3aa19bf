#!/usr/bin/env python3
"""Checks that the code's dependencies point one way.

Layers, lowest first: core, logic, platform, shelf (the model), the features (actions, share,
shake, watch, shortcuts, intents, update), the windows (shelfwindow, settings), app. A folder may
include and link only its own layer's library and the layers below; the features do not use each
other. The share service
(service/, the vyo_service library) uses core only; the features and everything above may link it
(share runs it in-process). The logic library
links QtCore, zlib and OpenSSL only. The desktop's X11, freedesktop and WebRTC implementations are
used only inside platform/, the platform fakes only by tests, and WebRTC's own headers only by
platform/webrtc/ (compiled to match how that library was built).

Run from anywhere: python3 scripts/check-layers.py. Prints every broken rule and exits 1 when
there is one.
"""

import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Folder under src/ (or the share service) -> layer rank.
RANK = {
    "core": 0,
    "logic": 1,
    # The share service sits beside logic: above core, below everything that may run it.
    "service": 1,
    "platform": 2,
    "shelf": 3,
    "actions": 4,
    "share": 4,
    "shake": 4,
    "watch": 4,
    "shortcuts": 4,
    "intents": 4,
    "update": 4,
    "shelfwindow": 5,
    "settings": 5,
    "app": 6,
}
FEATURE_RANK = 4

# Library -> the folder it is built from.
LIBRARY_FOLDER = {
    "vyo_core": "core",
    "vyo_logic": "logic",
    "vyo_platform": "platform",
    "vyo_webrtc": "platform",
    "vyo_shelf": "shelf",
    "vyo_service": "service",
    "vyo_actions": "actions",
    "vyo_imagefile": "actions",
    "vyo_share": "share",
    "vyo_shake": "shake",
    "vyo_watch": "watch",
    "vyo_shortcuts": "shortcuts",
    "vyo_intents": "intents",
    "vyo_update": "update",
    "vyo_shelfwindow": "shelfwindow",
    "vyo_settings": "settings",
    "vyo_app": "app",
}
# What the share service may use of the project's own libraries and folders.
SERVICE_MAY_USE = {"core"}
# What the logic library may link, directly or through vyo_core.
LOGIC_MAY_LINK = {"vyo_core", "Qt6::Core", "Qt6::Concurrent", "ZLIB::ZLIB", "OpenSSL::Crypto"}
TEST_ONLY_LIBRARIES = {"vyo_platform_fakes"}
# Folders of platform/ that only platform/ itself may include.
PLATFORM_PRIVATE = ("platform/x11/", "platform/linux/", "platform/webrtc/")

# WebRTC's headers, by their top folders.
WEBRTC_INCLUDE = re.compile(r'^\s*#\s*include\s+[<"](?:api|rtc_base|p2p|pc)/', re.M)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z0-9_]+)/([^"]+)"', re.M)
LINK = re.compile(r"target_link_libraries\(\s*([\w-]+)([^)]*)\)", re.S)


def folder_of(path: pathlib.Path) -> str | None:
    parts = path.relative_to(ROOT).parts
    if parts[0] == "src" and len(parts) > 2:
        return parts[1]
    return None


def check_includes(problems: list[str]) -> None:
    for path in sorted((ROOT / "src").rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder = folder_of(path)
        if folder not in RANK:
            problems.append(f"{path.relative_to(ROOT)}: folder {folder!r} has no layer")
            continue
        relative = path.relative_to(ROOT / "src").as_posix()
        text = path.read_text(encoding="utf-8")
        if WEBRTC_INCLUDE.search(text) and not relative.startswith("platform/webrtc/"):
            problems.append(f"{path.relative_to(ROOT)}: WebRTC headers stay inside platform/webrtc/")
        for match in INCLUDE.finditer(text):
            target, rest = match.group(1), match.group(2)
            included = f"{target}/{rest}"
            where = f"{path.relative_to(ROOT)}: includes {included}"
            if target not in RANK:
                continue
            if target != folder:
                if RANK[target] > RANK[folder]:
                    problems.append(f"{where} from a higher layer")
                elif RANK[target] == RANK[folder] == FEATURE_RANK:
                    problems.append(f"{where}: features do not use each other")
            if included.startswith(PLATFORM_PRIVATE) and folder != "platform":
                problems.append(f"{where}: desktop implementations stay inside platform/")
            if included.startswith("platform/fake/") and not relative.startswith("platform/fake/"):
                problems.append(f"{where}: the fakes are for tests only")


def check_service_includes(problems: list[str]) -> None:
    for path in sorted((ROOT / "service" / "src").rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        text = path.read_text(encoding="utf-8")
        for match in INCLUDE.finditer(text):
            target = match.group(1)
            if target in RANK and target not in SERVICE_MAY_USE:
                problems.append(
                    f"{path.relative_to(ROOT)}: includes {target}/{match.group(2)}; "
                    f"the share service uses {sorted(SERVICE_MAY_USE)} only"
                )


def product_links() -> dict[str, set[str]]:
    links: dict[str, set[str]] = {}
    files = list((ROOT / "src").rglob("CMakeLists.txt")) + [ROOT / "service" / "CMakeLists.txt"]
    for cmake in files:
        text = re.sub(r"#[^\n]*", "", cmake.read_text(encoding="utf-8"))
        for match in LINK.finditer(text):
            words = match.group(2).split()
            deps = {w for w in words if w not in ("PUBLIC", "PRIVATE", "INTERFACE")}
            links.setdefault(match.group(1), set()).update(deps)
    return links


def check_links(problems: list[str]) -> None:
    links = product_links()
    for library, deps in sorted(links.items()):
        for dep in sorted(deps & TEST_ONLY_LIBRARIES):
            problems.append(f"{library} links {dep}, which only tests may link")
        folder = LIBRARY_FOLDER.get(library)
        if folder is None:
            continue
        for dep in sorted(deps):
            dep_folder = LIBRARY_FOLDER.get(dep)
            if dep_folder is None or dep_folder == folder:
                continue
            if folder == "service" and dep_folder not in SERVICE_MAY_USE:
                problems.append(f"{library} links {dep}; the share service uses core only")
                continue
            if RANK[dep_folder] > RANK[folder]:
                problems.append(f"{library} links {dep} from a higher layer")
            elif RANK[dep_folder] == RANK[folder] == FEATURE_RANK:
                problems.append(f"{library} links {dep}: features do not use each other")

    # Everything the logic library reaches, through the project's own libraries.
    reached, pending = set(), ["vyo_logic"]
    while pending:
        for dep in links.get(pending.pop(), ()):
            if dep not in reached:
                reached.add(dep)
                pending.append(dep)
    for dep in sorted(reached - LOGIC_MAY_LINK):
        problems.append(f"vyo_logic reaches {dep}; it may link only {sorted(LOGIC_MAY_LINK)}")


def main() -> int:
    problems: list[str] = []
    check_includes(problems)
    check_service_includes(problems)
    check_links(problems)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} broken rule(s)")
        return 1
    print("check-layers: every dependency points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
