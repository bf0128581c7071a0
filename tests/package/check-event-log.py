#!/usr/bin/env python3
"""What flashwright-cli.exe reports to the Application log, and the messages it carries for it.

The message table is read back from the program (windres) and must hold exactly the IDs of
platform::Event, in English, as Unicode texts with CR LF line ends that use no insertion string
beyond the five the programs give, each as README lists it. Then the program runs under Wine against the simulator, and
each event is read from Wine's debug output, where Wine 8's advapi32 prints every
RegisterEventSourceW and ReportEventW call (fixme: the source name; the type and ID) and the
event's strings (the eventlog channel: trace for information, warn for warnings, err for errors).
That output goes to the Unix standard error of each Wine process, never to a Windows handle,
which is why this runs the program from here and not from a Windows test.

One device goes through busy (another update holds the lock while it programs slowly), an
update cut short (that update is killed), the next update (interrupted, then updated), the one
after (pending its power cycle), and, once it was seen unplugged and is back at its old firmware,
a status that finds its update did not take; a second device fails to program.

Usage: check-event-log.py WINDRES BIN_DIR SOURCE_DIR, inside scripts/with-display.sh.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

windres, binDir, sourceDir = sys.argv[1:4]
failures = []


def Fail(message):
    failures.append(message)
    print("FAIL: " + message, file=sys.stderr)


def EventIds():
    """The names and IDs of platform::Event."""
    with open(os.path.join(sourceDir, "platform", "Trail.h"), encoding="utf-8") as header:
        body = re.search(r"enum class Event\b[^{]*\{(.*?)\};", header.read(), re.S).group(1)
    return {name: int(value) for name, value in re.findall(r"(\w+)\s*=\s*(\d+)", body)}


def MessageTable(program):
    """The program's message table as {id: text}, checking its language and entry kind."""
    script = subprocess.run([windres, "-i", program, "-O", "rc"], check=True,
                            capture_output=True, text=True).stdout
    found = re.search(r"\n\w+ 11 /\* RT_MESSAGETABLE \*/\nBEGIN\n(.*?)\nEND\n", script, re.S)
    if not found:
        Fail("flashwright-cli.exe has no message table")
        return {}
    # windres states a resource's language only where it changes.
    language = re.findall(r"^LANGUAGE (\d+), (\d+)$", script[:found.start()], re.M)[-1:]
    if language != [("9", "1")]:
        Fail("the message table is not in English (US): LANGUAGE %s" % language)
    data = bytearray()
    # windres writes the bytes as 32-bit words ("0x...L"), a last odd half as 16 bits, and then
    # its own reading of them in a comment, which is not what is checked here.
    for token in re.findall(r"\S+", found.group(1).split("/*")[0].replace(",", " ")):
        value = int(token.rstrip("L"), 16)
        data += value.to_bytes(4 if token.endswith("L") else 2, "little")
    word = lambda at: int.from_bytes(data[at:at + 4], "little")
    half = lambda at: int.from_bytes(data[at:at + 2], "little")
    table = {}
    for block in range(word(0)):
        low, high, entry = word(4 + 12 * block), word(8 + 12 * block), word(12 + 12 * block)
        for messageId in range(low, high + 1):
            length, flags = half(entry), half(entry + 2)
            if flags != 1:
                Fail("message %d is not stored as Unicode (flags %d)" % (messageId, flags))
            table[messageId] = data[entry + 4:entry + length].decode("utf-16-le").rstrip("\0")
            entry += length
    return table


def CheckTable(table, ids):
    with open(os.path.join(sourceDir, "README.md"), encoding="utf-8") as file:
        readme = " ".join(file.read().split())
    if sorted(table) != sorted(ids.values()):
        Fail("the message table holds IDs %s, the programs report %s"
             % (sorted(table), sorted(ids.values())))
    for messageId, text in sorted(table.items()):
        if not text.endswith("\r\n") or re.search(r"\r(?!\n)|(?<!\r)\n", text):
            Fail("message %d has a line end other than CR LF: %r" % (messageId, text))
        # README lists each event's text: its first paragraph, line breaks aside.
        summary = " ".join(text.split("\r\n\r\n")[0].split())
        if '%d: "%s"' % (messageId, summary) not in readme:
            Fail("README does not give message %d as: %s" % (messageId, summary))
        inserts = {int(number) for number in re.findall(r"%(\d+)", text)}
        if not inserts or not inserts <= {1, 2, 3, 4, 5}:
            Fail("message %d uses insertion strings %s, not from %%1 to %%5"
                 % (messageId, sorted(inserts)))


def Unescape(quoted):
    """A string as Wine's debugstr_w prints it (L"..." with C escapes, \\XXXX for a character
    outside printable ASCII) back to its text; a string Wine cut short is a failure."""
    found = re.fullmatch(r'L"(.*)"(\.\.\.)?', quoted)
    if found.group(2):
        Fail("Wine printed only the start of the string %s" % quoted)

    def Character(escape):
        code = escape.group(1)
        return chr(int(code, 16)) if len(code) == 4 else {"n": "\n", "r": "\r", "t": "\t"}.get(code, code)

    return re.sub(r"\\([0-9a-f]{4}|.)", Character, found.group(1))


typeNames = {1: "error", 2: "warning", 4: "information"}
levels = {"error": "err", "warning": "warn", "information": "trace"}


def Events(debug):
    """The events in one process's debug output, as (source, type, ID, [strings])."""
    registered, events = {}, []
    for line in debug.splitlines():
        found = re.match(r"([0-9a-f]+):(\w+):(\w+):(\w+) (.*)$", line)
        if not found:
            continue
        thread, level, channel, function, rest = found.groups()
        if function == "RegisterEventSourceW":
            # Wine's handle is the same for every source: a report is the last registration's.
            registered[thread] = Unescape(re.search(r',(L".*")\): stub$', rest).group(1))
        elif function == "ReportEventW" and channel == "advapi":
            kind, _, eventId, _, count = rest[1:].split(",")[1:6]
            events.append([thread, registered.get(thread, ""), typeNames.get(int(kind, 16), kind),
                           int(eventId, 16), int(count, 16), []])
        elif function == "ReportEventW" and channel == "eventlog":
            event = next(e for e in reversed(events) if e[0] == thread)
            if level != levels.get(event[2]):
                Fail("a string of a %s event came as %s" % (event[2], level))
            event[5].append(Unescape(rest))
    for _, _, _, eventId, count, strings in events:
        if len(strings) != count:
            Fail("event %d: %d strings reported, %d seen" % (eventId, count, len(strings)))
    return [tuple(event[1:4]) + (event[5],) for event in events]


scratch = tempfile.mkdtemp(prefix="flashwright-events.")
world = os.path.join(scratch, "world.ini")
simLog = os.path.join(scratch, "sim.log")
for name in ("flashwright-cli.exe", "ZRFWUpdateDll.dll"):
    shutil.copy(os.path.join(binDir, name), scratch)
environment = dict(os.environ, FLASHWRIGHT_SIM_SCENARIO="world.ini", FLASHWRIGHT_SIM_LOG="sim.log",
                   WINEDEBUG="-all,+eventlog,fixme+advapi")


def ForgetAttempts():
    # The programs' records of their attempts live in the prefix the tests share.
    subprocess.run(["wine", "reg", "delete", r"HKLM\Software\Flashwright\Attempts", "/f"],
                   stdin=subprocess.DEVNULL, capture_output=True)


def WriteWorld(path, **keys):
    lines = ["[device]", "path = " + path, "vendor = EVTSIM", "product = Bench Unit",
             "version = 00.01.01.04"] + ["%s = %s" % (k.replace("_", "-"), v) for k, v in keys.items()]
    with open(world, "w") as file:
        file.write("\n".join(lines) + "\n")


def SimLog():
    try:
        with open(simLog, errors="replace") as file:
            return file.read()
    except FileNotFoundError:
        return ""


def Start(*args):
    return subprocess.Popen(["wine", "flashwright-cli.exe"] + list(args), cwd=scratch,
                            env=environment, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, errors="replace")


def Run(what, exitCode, *args):
    """Runs the program to its end; returns its events. Unix sees the exit code's low byte."""
    program = Start(*args)
    out, err = program.communicate(timeout=60)
    if program.returncode != exitCode % 256:
        Fail("%s: exit code %d, expected %d (low byte)\n%s%s"
             % (what, program.returncode, exitCode, out, err))
    return Events(err)


def Expect(what, events, expected):
    """Each expected event, in order: (name, type, {string index: text or pattern})."""
    if len(events) != len(expected):
        Fail("%s: %d events, expected %d: %s" % (what, len(events), len(expected), events))
        return
    for (source, kind, eventId, strings), (name, wantedKind, wanted) in zip(events, expected):
        label = "%s: event %s" % (what, name)
        if source != "Flashwright":
            Fail("%s under the source %r" % (label, source))
        if eventId != ids[name] or kind != wantedKind:
            Fail("%s came as ID %d (%s), expected %d (%s)"
                 % (label, eventId, kind, ids[name], wantedKind))
        if len(strings) != 5:
            Fail("%s has %d strings, expected 5" % (label, len(strings)))
            continue
        for index, pattern in wanted.items():
            if not re.fullmatch(pattern, strings[index]):
                Fail("%s: string %%%d is %r, expected /%s/" % (label, index + 1, strings[index], pattern))


ids = EventIds()
CheckTable(MessageTable(os.path.join(scratch, "flashwright-cli.exe")), ids)

ForgetAttempts()
slow = None
try:
    cli = "flashwright-cli"
    path = r"\\.\EVT1"
    device = {0: cli, 1: re.escape(path), 2: r".*EVTSIM.*Bench Unit.*", 3: r"00\.01\.01\.04"}
    target = {4: r"00\.01\.01\.07"}

    # A slow programming holds the lock; an update meanwhile is busy. Then the slow one is
    # killed while it programs, leaving its attempt cut short.
    WriteWorld(path, program_ms=60000)
    slow = Start("update")
    deadline = time.monotonic() + 30
    while " begin " not in SimLog():
        if time.monotonic() > deadline or slow.poll() is not None:
            Fail("the first update never began programming")
            break
        time.sleep(0.1)
    Expect("busy", Run("busy", 1618, "update"), [("Busy", "warning", {0: cli})])
    slow.kill()
    slow.communicate()

    WriteWorld(path, program_ms=0)
    # The program as its record names it, and when the cut-short attempt began.
    started = cli + r" update at \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"
    Expect("after the kill", Run("after the kill", 3010, "update"),
           [("Interrupted", "warning", {**device, 4: started}),
            ("Updated", "information", {**device, **target})])
    Expect("again", Run("again", 3010, "update"),
           [("PendingPowerCycle", "warning", {**device, **target})])

    # Unplugged (a list without it), then back with the firmware it had: the update did not take.
    with open(world, "w") as file:
        file.write("")
    Expect("unplugged", Run("unplugged", 3, "status"), [])
    WriteWorld(path, program_ms=0)
    Expect("did not take", Run("did not take", 10, "status"),
           [("DidNotTake", "error",
             {**device, 4: r"expected 00\.01\.01\.07, the device reports 00\.01\.01\.04"})])

    failing = r"\\.\EVT2"
    WriteWorld(failing, program_ms=0, program_succeeds="no")
    Expect("failure", Run("failure", 1, "update"),
           [("Failed", "error", {**device, 1: re.escape(failing), 4: r".+"})])
finally:
    if slow and slow.poll() is None:
        slow.kill()
        slow.communicate()
    ForgetAttempts()
    shutil.rmtree(scratch, ignore_errors=True)

if failures:
    sys.exit("%d failure(s)" % len(failures))
print("event log OK")
