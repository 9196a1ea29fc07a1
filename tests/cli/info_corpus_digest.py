"""`info --json --notes` over the public corpus, pinned: one SHA-256 per file
of the JSON value (its documented members only, so members that later work
adds do not count) or of the loader's refusal.

  write TOOL CORPUS DIGESTS   one `info` run per file, digests written
  check TOOL CORPUS DIGESTS   one `info --recursive` run of JSON lines, compared

Exit status 0 when every file matches, 1 when one does not, 77 when the corpus
is absent (the test is then skipped)."""
import hashlib
import json
import os
import subprocess
import sys

FILE_MEMBERS = ["format", "ppqn", "tempoBpm", "tempoMicroseconds", "hasTempo", "timeNumerator",
                "timeDenominator", "keyFifths", "keyMinor", "hasKeySignature", "keyWasEstimated", "keyName",
                "title", "tracks"]
TRACK_MEMBERS = ["index", "name", "exportName", "instrumentName", "programNumber", "noteCount", "minPitch",
                 "maxPitch", "notes"]


def digest_of_info(info):
    document = {name: info[name] for name in FILE_MEMBERS}
    document["tracks"] = [{name: track[name] for name in TRACK_MEMBERS} for track in info["tracks"]]
    return hashlib.sha256(json.dumps(document, ensure_ascii=True).encode()).hexdigest()


def digest_of_error(message):
    return hashlib.sha256(("error: " + message).encode()).hexdigest()


def midi_files(corpus):
    found = []
    for folder, _, names in os.walk(corpus):
        for name in names:
            if name.lower().endswith((".mid", ".midi")):
                found.append(os.path.relpath(os.path.join(folder, name), corpus))
    return sorted(found)


def write(tool, corpus, digests):
    with open(digests, "w", encoding="utf-8") as out:
        for relative in midi_files(corpus):
            run = subprocess.run([tool, "info", "--json", "--notes", os.path.join(corpus, relative)],
                                 capture_output=True, check=False)
            if run.returncode == 0:
                digest = digest_of_info(json.loads(run.stdout))
            else:
                digest = digest_of_error(run.stderr.decode().rstrip("\n"))
            out.write(f"{digest}  {relative}\n")


def check(tool, corpus, digests):
    expected = {}
    with open(digests, encoding="utf-8") as f:
        for line in f:
            digest, relative = line.rstrip("\n").split("  ", 1)
            expected[relative] = digest
    run = subprocess.run([tool, "info", "--json", "--notes", "--recursive", corpus], capture_output=True, check=False)
    actual = {}
    for line in run.stdout.decode().splitlines():
        info = json.loads(line)
        relative = os.path.relpath(info["file"], corpus)
        actual[relative] = digest_of_error(info["error"]) if "error" in info else digest_of_info(info)
    failures = [name for name in sorted(set(expected) | set(actual)) if expected.get(name) != actual.get(name)]
    for name in failures:
        print(f"changed: {name} (pinned {expected.get(name)}, now {actual.get(name)})")
    print(f"{len(expected) - len(failures)} of {len(expected)} files unchanged")
    return 1 if failures or not expected else 0


def main():
    mode, tool, corpus, digests = sys.argv[1:5]
    if not os.path.isdir(corpus):
        print(f"corpus {corpus} absent: skipped")
        return 77
    if mode == "write":
        write(tool, corpus, digests)
        return 0
    return check(tool, corpus, digests)


if __name__ == "__main__":
    sys.exit(main())
