#!/usr/bin/env python3
"""Who links whom: the platform's areas and the program's folders as the
build's own target graph (cmake --graphviz) draws them, written into
docs/architecture.md between its layer-graph markers.

  scripts/layer-graph.py BUILD          fails when the doc's picture is stale
  scripts/layer-graph.py BUILD --write  writes the picture into the doc
  scripts/layer-graph.py --dot FILE     prints the picture of a graph file

BUILD is a configured build directory; asking CMake for the graph re-runs
only its configure step there."""
import pathlib
import re
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOC = ROOT / "docs" / "architecture.md"
BEGIN = "<!-- layer graph: written by scripts/layer-graph.py from cmake --graphviz -->"
END = "<!-- end of layer graph -->"

# Targets by the names the doc gives them: a platform library by its area
# (noctil_plat_port: port), another of ours by its name without "noctil_";
# the executables and external libraries named here. Tests, probes, the
# version stamp and the Win32-style headers every area uses are left out.
RENAMED = {
    "noctil_plat_avireader": "avifile (reader)",
    "noctil_plat_logformat": "imagelog (log format)",
    "noctil_plat_statusline": "display/status_line",
    "noctil_plat_display_qt": "display/qt",
    "noctil_resources": "res",
    "noctil": "noctil",
    "noctil-convert": "noctil-convert",
    "indi_noctil_ccd": "indi_noctil_ccd",
    "Qt6::Widgets": "Qt",
    "xcb": "xcb",
    "JPEG::JPEG": "libjpeg",
    "PkgConfig::CFITSIO": "cfitsio",
    "PkgConfig::LIBINDI": "libindi",
}
EXTERNAL = {"Qt", "xcb", "libjpeg", "cfitsio", "libindi"}
LEFT_OUT = re.compile(r"test|probe|fuzz|bench|alloc_counter|^noctil_(win32_api|version|platform_areas)$")


def name_of(target):
    if target in RENAMED:
        return RENAMED[target]
    if LEFT_OUT.search(target) or not target.startswith("noctil_"):
        return None
    if target.startswith("noctil_plat_"):
        return target[len("noctil_plat_"):]
    return target[len("noctil_"):]


def edges_of(dot_text):
    """The edges between named targets, from the comments CMake writes
    after each edge ("// from -> to")."""
    edges = {}
    for line in dot_text.splitlines():
        m = re.search(r"->.*// (\S+) -> (\S+)$", line)
        if not m:
            continue
        a, b = name_of(m.group(1)), name_of(m.group(2))
        if a is None or b is None or a == b:
            continue
        edges.setdefault(a, set()).add(b)
        edges.setdefault(b, set())
    return edges


def bottom_up(edges):
    """Each name after everything it links; ties by name."""
    order, placed = [], set()
    while len(placed) < len(edges):
        ready = sorted(n for n in edges if n not in placed and edges[n] <= placed)
        if not ready:
            raise SystemExit("layer-graph: the targets link in a cycle: " + ", ".join(sorted(set(edges) - placed)))
        order += ready
        placed |= set(ready)
    return order


def picture(dot_text):
    edges = edges_of(dot_text)
    order = bottom_up(edges)
    rank = {n: i for i, n in enumerate(order)}
    rows = [n for n in order if edges[n] and n not in EXTERNAL]
    width = max(len(n) for n in rows)
    lines = [f"{n:<{width}} -> " + ", ".join(sorted(edges[n], key=rank.get)) for n in rows]
    return "\n".join(lines) + "\n"


def graph_of(build):
    with tempfile.TemporaryDirectory() as tmp:
        dot = pathlib.Path(tmp) / "noctil.dot"
        subprocess.run(["cmake", f"--graphviz={dot}", str(build)], check=True, stdout=subprocess.DEVNULL)
        return dot.read_text()


def main(argv):
    if len(argv) == 2 and argv[0] == "--dot":
        sys.stdout.write(picture(pathlib.Path(argv[1]).read_text()))
        return 0
    if not argv or len(argv) > 2 or (len(argv) == 2 and argv[1] != "--write"):
        sys.stderr.write(__doc__)
        return 2
    drawn = picture(graph_of(argv[0]))
    doc = DOC.read_text()
    m = re.search(re.escape(BEGIN) + r"\n```\n(.*?)```\n" + re.escape(END), doc, re.S)
    if not m:
        raise SystemExit(f"layer-graph: {DOC} has no layer-graph markers")
    if m.group(1) == drawn:
        return 0
    if len(argv) == 2:
        DOC.write_text(doc[: m.start(1)] + drawn + doc[m.end(1) :])
        return 0
    sys.stderr.write(
        f"layer-graph: the picture in {DOC.relative_to(ROOT)} is not the build's; "
        "run scripts/layer-graph.py BUILD --write\n--- in the doc\n" + m.group(1) + "--- from the build\n" + drawn
    )
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
