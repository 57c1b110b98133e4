# SPDX-License-Identifier: GPL-3.0-or-later
"""The tagger trial: runs kestrom-cli over files as the taggers people use write
them and measures what comes through. See bench/README.md.

Every corpus file is used three times:
  - as the work file, matched by a clean library file: afterwards every frame
    the program does not own means what it meant, the audio is the same bytes,
    and the fields the program owns equal the library file's, whole;
  - again, by a second run over the same folders, which must write nothing;
  - as the library file, matched by a plain work file: the work file then
    holds the fields as an independent reader reads them from the original.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import traceback
from collections import Counter, defaultdict
from dataclasses import dataclass, field
from pathlib import Path

try:
    import audio
    import corpus
    import handmade
    import id3read
    import meaning
    import writers
except Exception:  # the harness itself is broken: say so apart from a measurement
    traceback.print_exc()
    sys.exit(2)

ROOT = Path(__file__).resolve().parents[2]
DEFAULT_CLI = ROOT / "build/release/bin/kestrom-cli"
# The modification time the work files start with, so that any write shows.
OLD_TIME_NS = 1_577_836_800 * 10**9  # 2020-01-01
RUN_TIMEOUT = 300


@dataclass
class Outcome:
    """The failures found for one corpus file, as (class, detail), the most
    serious first."""

    work: list = field(default_factory=list)
    library: list = field(default_factory=list)
    rerun: list = field(default_factory=list)

    def first(self):
        for role, failures in (("work", self.work), ("library", self.library), ("rerun", self.rerun)):
            if failures:
                cls, detail = failures[0]
                return f"{role}: {cls}" + (f": {detail}" if detail else "")
        return ""


def run_cli(cli, library, work):
    """Runs kestrom-cli LIBRARY WORK; returns a failure or None."""
    try:
        done = subprocess.run([str(cli), str(library), str(work)], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace", timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        return ("run failed", f"no end after {RUN_TIMEOUT} s")
    if done.returncode == 0:
        return None
    if done.returncode < 0:
        return ("run failed", f"killed by signal {-done.returncode}")
    said = done.stderr.strip().splitlines()
    if said:
        reason = said[-1]
    elif done.stdout.strip():
        reason = "the file is listed as not tagged"
    else:
        reason = ""
    return ("run failed", f"exit {done.returncode}" + (f": {reason}" if reason else ""))


def fresh_folders(base):
    if base.exists():
        shutil.rmtree(base)
    lib, work = base / "library", base / "work"
    lib.mkdir(parents=True)
    work.mkdir()
    return lib, work


def audio_failure(before, after):
    s0, e0 = audio.audio_span(before)
    s1, e1 = audio.audio_span(after)
    if s1 is None:
        return ("audio changed", "no MPEG audio left")
    old, new = before[s0:e0], after[s1:e1]
    if old == new:
        return None
    if old.endswith(new):
        return ("audio changed", f"its first {len(old) - len(new):,} bytes lost")
    at = next((i for i, (a, b) in enumerate(zip(old, new)) if a != b), min(len(old), len(new)))
    return ("audio changed", f"differs from byte {at:,} of {len(old):,} (now {len(new):,} bytes)")


def layout_failures(tags):
    if not tags:
        return [("tag layout", "no ID3v2 tag")]
    out = []
    if len(tags) > 1:
        out.append(("tag layout", f"{len(tags)} ID3v2 tags back to back"))
    t = tags[0]
    if t.version != 3:
        out.append(("tag layout", f"an ID3v2.{t.version} tag"))
    if t.claims_audio:
        out.append(("tag layout", "the tag's size reaches into the audio"))
    out += [("tag layout", p) for p in t.problems]
    return out


def field_failures(expected, found):
    out = []
    for name in meaning.FIELDS:
        if not meaning.same_field(name, expected[name], found[name]):
            message = meaning.field_message(name, expected[name], found[name])
            out.append(("field cut" if " cut:" in message else "field wrong", message))
    return out


def id3v1_track(v1):
    if v1 is not None and v1[125] == 0 and v1[126] != 0:
        return v1[126]
    return None


def check_work_file(case, before, after):
    failures = []
    if (f := audio_failure(before, after)) is not None:
        failures.append(f)
    tags, found = id3read.frames_of(after)
    failures += layout_failures(tags)
    failures += meaning.compare(meaning.unowned_facts(case.expected_frames), meaning.unowned_facts(found))
    failures += field_failures(corpus.LIBRARY, meaning.fields_of(found))
    v1_before, ape_before, _ = audio.trailing_tags(before)
    v1_after, ape_after, _ = audio.trailing_tags(after)
    if v1_after is None:
        failures.append(("ID3v1 tag", "none written"))
    elif id3v1_track(v1_before) is not None and id3v1_track(v1_after) != id3v1_track(v1_before):
        failures.append(("ID3v1 tag", "its track number lost"))
    if ape_before != ape_after:
        failures.append(("APE tag", "lost" if ape_after is None else "changed"))
    return failures


def leftovers(folder, name):
    return sorted(set(os.listdir(folder)) - {name})


def read_or_none(path):
    try:
        return path.read_bytes()
    except FileNotFoundError:
        return None


def library_damage(path, original):
    """A failure when the library file at path is no longer original, with its
    old modification time, or None."""
    if read_or_none(path) != original:
        return ("library file changed", "gone" if not path.exists() else "its bytes")
    if os.stat(path).st_mtime_ns != OLD_TIME_NS:
        return ("library file changed", "its modification time")
    return None


def as_work(cli, case, base, library_file):
    """Runs the case's file as the work file, twice. Returns (failures of the
    first run, failures of the second)."""
    lib, work = fresh_folders(base / "as-work")
    name = case.path.name
    for folder, source in ((lib, library_file), (work, case.path)):
        shutil.copyfile(source, folder / name)
        os.utime(folder / name, ns=(OLD_TIME_NS, OLD_TIME_NS))
    before = case.path.read_bytes()
    library_before = library_file.read_bytes()

    failures = []
    if (f := run_cli(cli, lib, work)) is not None:
        failures.append(f)
    after = read_or_none(work / name)
    if after is None:
        return failures + [("work file gone", "")], []
    failures += check_work_file(case, before, after)
    if (f := library_damage(lib / name, library_before)) is not None:
        failures.append(f)
    if left := leftovers(work, name) + leftovers(lib, name):
        failures.append(("files left behind", ", ".join(left)))

    # The second run: put the clock back, so that any write shows in the time.
    os.utime(work / name, ns=(OLD_TIME_NS, OLD_TIME_NS))
    st1 = os.stat(work / name)
    second = run_cli(cli, lib, work)
    again = read_or_none(work / name)
    if again is None:
        return failures, [("work file gone", "")]
    st2 = os.stat(work / name)
    changed = [what for what, differs in (
        ("bytes", again != after),
        ("mtime", st2.st_mtime_ns != st1.st_mtime_ns),
        ("inode", st2.st_ino != st1.st_ino),
        ("ctime", st2.st_ctime_ns != st1.st_ctime_ns),
    ) if differs]
    rerun = []
    if changed:
        rerun.append(("rewritten by the second run", ", ".join(changed) + " changed"))
    if second is not None and not any(cls == "run failed" for cls, _detail in failures):
        rerun.append(("second run failed", second[1]))
    return failures, rerun


def as_library(cli, case, base, plain_work_file):
    """Runs the case's file as the library file; returns the failures."""
    lib, work = fresh_folders(base / "as-library")
    name = case.path.name
    shutil.copyfile(case.path, lib / name)
    os.utime(lib / name, ns=(OLD_TIME_NS, OLD_TIME_NS))
    shutil.copyfile(plain_work_file, work / name)

    failures = []
    if (f := run_cli(cli, lib, work)) is not None:
        failures.append(f)
    tagged = read_or_none(work / name)
    if tagged is None:
        failures.append(("work file gone", ""))
    else:
        _tags, found = id3read.frames_of(tagged)
        failures += field_failures(case.expected_fields, meaning.fields_of(found))
    if (f := library_damage(lib / name, case.path.read_bytes())) is not None:
        failures.append(f)
    return failures


# The report ----------------------------------------------------------------------


def mark(failures):
    return "ok" if not failures else "FAIL"


def print_table(cases, outcomes, verbose, width):
    print(f"{'#':>3}  {'file':<27} {'work':<5}{'lib':<5}{'rerun':<6} first failure")
    for number, (case, out) in enumerate(zip(cases, outcomes), 1):
        line = (f"{number:>3}  {case.name:<27} {mark(out.work):<5}{mark(out.library):<5}"
                f"{mark(out.rerun):<6} {out.first()}")
        print(line if len(line) <= width else line[:width - 1] + "…")
        if verbose:
            print(f"{'':5}{case.writer}: {case.layout}")
            for role, failures in (("work", out.work), ("library", out.library), ("rerun", out.rerun)):
                for cls, detail in failures:
                    print(f"{'':7}{role}: {cls}" + (f": {detail}" if detail else ""))


def frame_of(detail):
    """The frame a frame message is about, for the summary."""
    if "[from " in detail:
        return detail.split("[from ", 1)[1].split("]", 1)[0]
    word = detail.removeprefix("now ").split(" ", 1)[0]
    return word.split(":", 1)[0] if not word.startswith("TXXX") else word


def print_classes(outcomes):
    files = defaultdict(set)
    what = defaultdict(Counter)
    for number, out in enumerate(outcomes):
        for role, failures in (("work", out.work), ("library", out.library), ("rerun", out.rerun)):
            for cls, detail in failures:
                files[(role, cls)].add(number)
                if cls.startswith("frame "):
                    if not detail.startswith("now "):  # the other half of a change
                        what[(role, cls)][frame_of(detail)] += 1
                elif cls.startswith("field "):
                    what[(role, cls)][detail.split(" ", 1)[0]] += 1
                elif detail:
                    what[(role, cls)][detail if len(detail) <= 48 else detail[:47] + "…"] += 1
    if not files:
        return
    print("\nfailure classes (files; what, times):")
    for (role, cls), numbers in sorted(files.items(), key=lambda kv: (kv[0][0], -len(kv[1]))):
        shown = ", ".join(f"{k} ×{n}" for k, n in what[(role, cls)].most_common(12))
        print(f"  {role:<8}{cls:<28}{len(numbers):>3}  {shown}")


def print_writers(cases, outcomes):
    print("\nby writer:                     files  work ok  lib ok  rerun ok")
    rows = defaultdict(lambda: [0, 0, 0, 0])
    for case, out in zip(cases, outcomes):
        row = rows[case.writer]
        row[0] += 1
        row[1] += not out.work
        row[2] += not out.library
        row[3] += not out.rerun
    for writer, (n, w, lb, r) in rows.items():
        print(f"  {writer:<30}{n:>5}{w:>9}{lb:>8}{r:>10}")


def main(argv):
    parser = argparse.ArgumentParser(prog="tools/taggertrial", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("cli", nargs="?", default=str(DEFAULT_CLI),
                        help="kestrom-cli to try (default: build/release/bin/kestrom-cli)")
    parser.add_argument("--strict", action="store_true", help="exit 1 when any file fails")
    parser.add_argument("--keep", metavar="DIR", help="work in DIR and keep it (the corpus, the runs)")
    parser.add_argument("--only", metavar="TEXT", help="only the files whose name holds TEXT")
    parser.add_argument("-v", "--verbose", action="store_true", help="every failure of every file")
    parser.add_argument("--reference", action="store_true",
                        help="try the trial's own stand-in (reference_cli.py), which must pass it all")
    args = parser.parse_args(argv)

    cli = Path(__file__).resolve().parent / "reference_cli.py" if args.reference else Path(args.cli).resolve()
    if not os.access(cli, os.X_OK):
        print(f"taggertrial: no kestrom-cli at {cli}; build it first:\n"
              "  cmake --preset release && cmake --build --preset release", file=sys.stderr)
        return 2

    scratch = Path(args.keep).resolve() if args.keep else Path(tempfile.mkdtemp(prefix="taggertrial-"))
    try:
        cases = writers.cases() + handmade.cases()
        if args.only:
            cases = [c for c in cases if args.only in c.name]
        print(f"taggertrial: building {len(cases)} corpus files in {scratch}", file=sys.stderr)
        shutil.rmtree(scratch / "corpus", ignore_errors=True)
        corpus.build(cases, scratch / "corpus", lambda m: print(m, file=sys.stderr))
        ctx = corpus.Context(scratch)
        library_file = scratch / "library.mp3"
        plain_work_file = scratch / "plain.mp3"
        corpus.make_library_file(ctx, library_file)
        corpus.make_plain_work_file(ctx, plain_work_file)

        print(f"taggertrial: running {cli}", file=sys.stderr)
        outcomes = []
        for case in cases:
            base = scratch / "runs" / case.path.stem
            out = Outcome()
            out.work, out.rerun = as_work(cli, case, base, library_file)
            out.library = as_library(cli, case, base, plain_work_file)
            outcomes.append(out)
    finally:
        if not args.keep:
            shutil.rmtree(scratch, ignore_errors=True)

    width = max(100, shutil.get_terminal_size((160, 40)).columns)
    print_table(cases, outcomes, args.verbose, width)
    print_classes(outcomes)
    print_writers(cases, outcomes)
    m = len(cases)
    whole = sum(not o.work for o in outcomes)
    read = sum(not o.library for o in outcomes)
    untouched = sum(not o.rerun for o in outcomes)
    print(f"\n{whole} of {m} work files whole, {read} of {m} read right as library files, "
          f"{untouched} of {m} untouched by a second run")
    failed = any(o.work or o.library or o.rerun for o in outcomes)
    return 1 if args.strict and failed else 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except Exception as e:  # the harness itself broke: say so, apart from a measurement
        traceback.print_exc()
        print(f"taggertrial: the trial itself failed: {e}", file=sys.stderr)
        sys.exit(2)
