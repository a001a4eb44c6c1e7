#!/usr/bin/env python3
"""kelconv.exe end to end under Wine and Xvfb, against the native build.

Each case lays out data files in a new folder, runs kelconv.exe there under Wine with Wine's
relay trace of MessageBoxExA and MessageBoxA on, waits for each box on the X display, reads the
box back from inside Wine (caption, text and button labels, through the test helper), answers
it by key with xdotool, and then checks:
  - every box call in the relay trace, byte for byte: function, owner, text, caption, style
    and language (a text too long for the trace is checked as far as the trace shows it, and
    whole through the box on screen);
  - the exit code and every file of the folder afterwards;
  - the same against the native build run on a copy of the same data, answered on standard
    input: the same exit code, the same files byte for byte, and the same box texts.
One screenshot of each kind of box (information, question, failure report) is saved as PNG.

Nothing is skipped: a missing tool or a missing native build is a failure.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_program_file  # noqa: E402  (the PE reader)

CAPTION = "Kelvado データーコンバーター v1.1"
REPORT_CAPTION = "アプリケーション エラー"
INFORM_STYLE = 0x11040
ASK_STYLE = 0x11044
REPORT_STYLE = 0x2010
JAPANESE = 0x11
YES_LABEL = "はい(&Y)"
NO_LABEL = "いいえ(&N)"
OK_LABEL = "OK"


def cp932(text):
    return text.encode("cp932")


def list_missing():
    return cp932("データーファイル[kelrun.lst]が見つからない為、終了します")


def foreign_file():
    return cp932("該当アプリケーションのデーターファイルではない為、終了します")


def already_newest(version):
    return cp932("データーファイルは最新バージョンの為、終了します\r\rkelrun.lst: ver ") + version


def page_missing():
    return cp932("必要なデーターファイル[kelrun.tab]が見つからない為、終了します")


def question(version):
    return (cp932("データーファイルを最新のバージョンに変換しますか？\r\rkelrun.lst: ver ")
            + version + b" -->> 2.00")


def conversion_ended():
    return cp932("データー変換が終了しました")


def open_error(name):
    return cp932("ファイル %s は開けません" % name)


def create_error(name):
    return cp932("ファイル %s を作成できません" % name)


def index_error(index):
    return cp932("リストのインデックスが範囲を超えています (%d)" % index)


class Box:
    """A box that a case expects: the call that shows it and the answer it gets."""

    def __init__(self, kind, text, answer=None, during=None, screenshot=None):
        self.kind = kind  # "inform", "ask" or "report" (text is the failure kind then)
        self.text = text  # bytes; for "report": (kind name, message)
        self.answer = answer  # "yes" or "no" for a question
        self.during = during  # (mode, file) the helper opens while the box is up
        self.screenshot = screenshot  # PNG name, or None

    def keys(self):
        return ["Tab", "Return"] if self.answer == "no" else ["Return"]


def inform(text, screenshot=None):
    return Box("inform", text, screenshot=screenshot)


def ask(text, answer, during=None, screenshot=None):
    return Box("ask", text, answer=answer, during=during, screenshot=screenshot)


def report(kind, message, screenshot=None):
    return Box("report", (kind, message), screenshot=screenshot)


def entries(count, first=0):
    return b"".join(b"entry%d,\"a b\",x\r\n" % i for i in range(first, first + count))


HEADER = b"APP=Kelvado,VER=1.00\r\n"


class Case:
    def __init__(self, name, files, boxes, exit_code, native=True, holds=(), folders=()):
        self.name = name
        self.files = files  # {name: bytes}; a name mapped to None is made read-only
        self.boxes = boxes
        self.exit_code = exit_code
        self.native = native  # whether the native build can be run on the same data
        self.holds = holds  # (mode, file) held by the helper before the run
        self.folders = folders  # folders to make

    def answers(self):
        return [box.answer for box in self.boxes if box.kind == "ask"]


def example_files():
    folder = os.path.join(HERE, "..", "..", "examples", "basic")
    with open(os.path.join(folder, "kelrun.lst"), "rb") as f:
        lst = f.read()
    with open(os.path.join(folder, "kelrun.tab"), "rb") as f:
        tab = f.read()
    return {"kelrun.lst": lst, "kelrun.tab": tab}


def cases():
    example = example_files()
    read_only = dict(example)
    read_only["kelrun.lst"] = ("read-only", example["kelrun.lst"])
    # Lone LF and lone CR line ends, lower-case names without VER, quotes and Japanese.
    lines = ([b"app=Kelvado"] + [b'e%d,"say ""hi"""' % i for i in range(10)]
             + [cp932('"全角,カンマ",表示')] + [b"f%d" % i for i in range(9)])
    lone_line_ends = {
        "kelrun.lst": b"\n".join(lines[:6]) + b"\n" + b"\r".join(lines[6:]) + b"\r",
        "kelrun.tab": cp932("ページ１\rページ２"),
    }
    return [
        Case("yes converts", example,
             [ask(question(b"1.00"), "yes", screenshot="question.png"),
              inform(conversion_ended(), screenshot="information.png")], 0),
        Case("no changes nothing", example, [ask(question(b"1.00"), "no")], 0),
        Case("list file missing", {"kelrun.tab": b"p\r\n"}, [inform(list_missing())], 0),
        Case("folder named like the list file", {"kelrun.tab": b"p\r\n"},
             [inform(list_missing())], 0, folders=["kelrun.lst"]),
        Case("foreign list file", {"kelrun.lst": b"APP=Other,VER=1.00\r\n", "kelrun.tab": b""},
             [inform(foreign_file())], 0),
        Case("list file already newest",
             {"kelrun.lst": b"APP=Kelvado,VER=2.00\r\n", "kelrun.tab": b"p\r\n"},
             [inform(already_newest(b"2.00"))], 0),
        Case("page file missing", {"kelrun.lst": HEADER + entries(10)}, [inform(page_missing())],
             0),
        Case("no version and other line ends, converted",
             lone_line_ends, [ask(question(b""), "yes"), inform(conversion_ended())], 0),
        Case("empty list file", {"kelrun.lst": b"", "kelrun.tab": b"p\r\n"},
             [report("EStringListError", index_error(0), screenshot="failure.png")], 1),
        Case("too few entry lines", {"kelrun.lst": HEADER + entries(13), "kelrun.tab": b"a\r\nb\r\n"},
             [ask(question(b"1.00"), "yes"), report("EStringListError", None)], 1),
        Case("read-only list file", read_only,
             [ask(question(b"1.00"), "yes"), report("EFCreateError", create_error("kelrun.lst"))],
             1),
        Case("list file held for writing", example,
             [report("EFOpenError", open_error("kelrun.lst"))], 1, native=False,
             holds=[("write", "kelrun.lst")]),
        Case("page file held for writing", example,
             [ask(question(b"1.00"), "yes"), report("EFOpenError", open_error("kelrun.tab"))], 1,
             native=False, holds=[("write", "kelrun.tab")]),
        Case("list file opened while the question is up", example,
             [ask(question(b"1.00"), "yes", during=("read", "kelrun.lst")),
              report("EFCreateError", create_error("kelrun.lst"))], 1, native=False),
    ]


# --- Wine's relay trace ----------------------------------------------------------------------

CALL = re.compile(r"^[0-9a-f]+:Call user32\.(MessageBoxExA|MessageBoxA)\((.*)\) ret=[0-9a-f]+$")


def parse_arguments(text):
    """Splits the argument list of a relay line: numbers as ints, strings as (bytes, whole)."""
    args = []
    i = 0
    while i < len(text):
        match = re.match(r"[0-9a-fA-F]+", text[i:])
        if not match:
            raise ValueError("unreadable relay arguments: " + text)
        value = int(match.group(0), 16)
        i += match.end()
        if text.startswith(' "', i):
            i += 2
            data = bytearray()
            while text[i] != '"':
                if text[i] == "\\":
                    escape = text[i + 1]
                    if escape == "x":
                        data.append(int(text[i + 2:i + 4], 16))
                        i += 4
                        continue
                    data += {"n": b"\n", "r": b"\r", "t": b"\t", '"': b'"', "\\": b"\\"}[escape]
                    i += 2
                else:
                    data += text[i].encode("latin-1")
                    i += 1
            i += 1
            whole = not text.startswith("...", i)
            if not whole:
                i += 3
            args.append((bytes(data), whole))
        else:
            args.append(value)
        if i < len(text):
            if text[i] != ",":
                raise ValueError("unreadable relay arguments: " + text)
            i += 1
    return args


def relay_calls(path):
    calls = []
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("latin-1").rstrip("\r\n")
            match = CALL.match(line)
            if match:
                calls.append((match.group(1), parse_arguments(match.group(2))))
    return calls


# --- The run ---------------------------------------------------------------------------------

class Environment:
    def __init__(self, args):
        self.args = args
        self.failures = []
        self.shots = set()
        self.code_ranges = text_sections(args.program)
        os.makedirs(args.screenshots, exist_ok=True)
        for tool in ("Xvfb", "xdotool", "xwd", "convert"):
            if shutil.which(tool) is None:
                raise SystemExit("%s is missing: run tests/win32/install_and_run.sh" % tool)
        if not os.access(args.native, os.X_OK):
            raise SystemExit("%s is missing: build the native preset first" % args.native)
        self.display, self.xvfb = start_xvfb()
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("WINEDEBUG", None)
        # A Wine server that earlier tests started without a display would keep its desktop
        # without one; wait for it to end, so that this one starts with the X display.
        subprocess.run([args.wine, "--wait-server"], env=self.env, timeout=120)
        # The box calls are traced; nothing else of the relay channel.
        self.wine(["reg.exe", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t",
                   "REG_SZ", "/d", "user32.MessageBoxExA;user32.MessageBoxA", "/f"])

    def close(self):
        self.xvfb.send_signal(signal.SIGTERM)
        self.xvfb.wait(timeout=10)

    def wine(self, args, **kwargs):
        return subprocess.run([self.args.wine] + args, env=self.env, check=True,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                              **kwargs)

    def fail(self, case, message):
        self.failures.append("%s: %s" % (case.name, message))
        print("  FAILED " + message)

    def expect(self, case, what, expected, actual):
        if expected != actual:
            self.fail(case, "%s\n    expected: %r\n    actual:   %r" % (what, expected, actual))


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=[write_end],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    if not number:
        raise SystemExit("Xvfb did not start")
    return ":" + number, xvfb


def text_sections(program):
    with open(program, "rb") as f:
        image = check_program_file.Image(f.read())
    # mingw-w64 puts the code (.text) first.
    return [(vaddr, vaddr + size) for vaddr, size, _ in image.sections[:1]]


def xdotool(env, *args, timeout=30):
    return subprocess.run(["xdotool"] + list(args), env=env, capture_output=True, text=True,
                          timeout=timeout)


def wait_for_box(env, gone=None, seconds=30):
    """The X window of the box on screen (other than `gone`), or None after `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = xdotool(env, "search", "--onlyvisible", "--name", "Kelvado|アプリケーション")
        windows = [w for w in found.stdout.split() if w != gone]
        if windows:
            return windows[0]
        time.sleep(0.1)
    return None


def wait_until_gone(env, window, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = xdotool(env, "search", "--onlyvisible", "--name", "Kelvado|アプリケーション")
        if window not in found.stdout.split():
            return True
        time.sleep(0.1)
    return False


def boxes_on_screen(env, helper):
    out = subprocess.run([env["KELCONV_WINE"], helper, "boxes"], env=env, capture_output=True,
                         text=True, timeout=60).stdout
    boxes = []
    for line in out.splitlines():
        fields = dict(item.split("=", 1) for item in line.split())
        fields.pop("rect", None)
        boxes.append({name: bytes.fromhex(value) for name, value in fields.items()})
    return boxes


def start_holder(env, helper, mode, name, folder):
    holder = subprocess.Popen([env["KELCONV_WINE"], helper, "hold", mode, name], cwd=folder,
                              env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    line = holder.stdout.readline().strip()
    return holder, line == b"held"


def release(holder):
    holder.stdin.close()
    holder.wait(timeout=30)


def lay_out(case, folder):
    for name in case.folders:
        os.mkdir(os.path.join(folder, name))
    for name, content in case.files.items():
        read_only = isinstance(content, tuple)
        if read_only:
            content = content[1]
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(content)
        if read_only:
            os.chmod(path, 0o444)


def folder_state(folder):
    state = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.isdir(path):
            state[name] = "<folder>"
        else:
            with open(path, "rb") as f:
                state[name] = f.read()
    return state


def run_native(case, work, native):
    folder = os.path.join(work, "native")
    os.mkdir(folder)
    lay_out(case, folder)
    answers = "".join("y\n" if a == "yes" else "n\n" for a in case.answers())
    run = subprocess.run([native], cwd=folder, input=answers.encode(), capture_output=True,
                         env=dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8"), timeout=60)
    return run.returncode, folder_state(folder), run.stdout + run.stderr


def run_case(env_, case, work):
    args = env_.args
    env = dict(env_.env, KELCONV_WINE=args.wine)
    folder = os.path.join(work, "wine")
    os.mkdir(folder)
    lay_out(case, folder)
    before = folder_state(folder)
    holders = []
    for mode, name in case.holds:
        holder, held = start_holder(env, args.helper, mode, name, folder)
        holders.append(holder)
        if not held:
            env_.fail(case, "the helper could not hold " + name)
    relay = os.path.join(work, "relay.txt")
    with open(relay, "wb") as trace:
        program = subprocess.Popen([args.wine, args.program], cwd=folder,
                                   env=dict(env, WINEDEBUG="+relay"),
                                   stdout=subprocess.DEVNULL, stderr=trace)
    shown = []
    previous = None
    for box in case.boxes:
        # The first program of a new Wine server takes a while to bring up its desktop.
        window = wait_for_box(env, gone=previous, seconds=90)
        if window is None:
            env_.fail(case, "no %s box appeared" % box.kind)
            break
        if box.during:
            holder, held = start_holder(env, args.helper, box.during[0], box.during[1], folder)
            holders.append(holder)
            if not held:
                env_.fail(case, "the helper could not hold " + box.during[1])
        on_screen = boxes_on_screen(env, args.helper)
        shown.append(on_screen[0] if len(on_screen) == 1 else None)
        if len(on_screen) != 1:
            env_.fail(case, "expected one box on screen, found %d" % len(on_screen))
        if box.screenshot and box.screenshot not in env_.shots:
            png = os.path.join(args.screenshots, box.screenshot)
            subprocess.run("xwd -silent -id %s | convert xwd:- %s" % (window, png), shell=True,
                           env=env, check=True, timeout=60)
            env_.shots.add(box.screenshot)
        xdotool(env, "windowfocus", "--sync", window, timeout=10)
        xdotool(env, "key", *box.keys())
        if not wait_until_gone(env, window):
            env_.fail(case, "the %s box did not go away" % box.kind)
        previous = window
    try:
        exit_code = program.wait(timeout=60)
    except subprocess.TimeoutExpired:
        program.kill()
        exit_code = program.wait()
        env_.fail(case, "kelconv.exe did not end")
    for holder in holders:
        release(holder)
    after = folder_state(folder)
    return before, after, exit_code, relay_calls(relay), shown


def expected_call(box):
    """(function, text or None, caption, style, language or None) of a box."""
    if box.kind == "inform":
        return ("MessageBoxExA", box.text, cp932(CAPTION), INFORM_STYLE, JAPANESE)
    if box.kind == "ask":
        return ("MessageBoxExA", box.text, cp932(CAPTION), ASK_STYLE, JAPANESE)
    return ("MessageBoxA", None, cp932(REPORT_CAPTION), REPORT_STYLE, None)


REPORT_TEXT = re.compile(rb"^(E[A-Za-z]+)" + re.escape(cp932("がモジュール ")) + rb"(.+?)"
                         + re.escape(cp932(" の ")) + rb"([0-9A-F]{8})"
                         + re.escape(cp932(" で発生しました。")) + rb"\n(.*)$", re.S)


def check_report(env_, case, box, text, whole, native_message):
    """Checks the text of a failure report; `whole` is False when only a beginning is known."""
    kind, message = box.text
    if message is None:
        message = native_message
    expected_start = kind.encode() + cp932("がモジュール kelconv.exe の ")
    if not text.startswith(expected_start[:len(text)]):
        env_.fail(case, "report begins %r, not %r" % (text[:len(expected_start)],
                                                       expected_start))
        return
    if not whole:
        return
    match = REPORT_TEXT.match(text)
    if not match:
        env_.fail(case, "report text not in the expected form: %r" % text)
        return
    env_.expect(case, "report module", b"kelconv.exe", match.group(2))
    offset = int(match.group(3), 16)
    if not any(start <= offset < end for start, end in env_.code_ranges):
        env_.fail(case, "report place %08X is not in the program's code %r"
                  % (offset, env_.code_ranges))
    env_.expect(case, "report message", (message or b"") + b".", match.group(4))


def check_case(env_, case):
    work = tempfile.mkdtemp(prefix="kelconv-wine-")
    try:
        before, after, exit_code, calls, shown = run_case(env_, case, work)
        native = run_native(case, work, env_.args.native) if case.native else None

        env_.expect(case, "exit code", case.exit_code, exit_code)
        native_message = None
        if native:
            native_code, native_files, native_out = native
            env_.expect(case, "native exit code", case.exit_code, native_code)
            env_.expect(case, "files against the native build's", native_files, after)
            for box in case.boxes:
                if box.kind != "report" or box.text[1] is not None:
                    text = box.text if box.kind != "report" else box.text[1]
                    shown_text = text.decode("cp932").replace("\r", "\n")
                    if shown_text not in native_out.decode("utf-8", "replace"):
                        env_.fail(case, "the native build did not show %r" % shown_text)
            if case.exit_code == 1:
                lines = native_out.decode("utf-8").split("\n")
                # The report's second line is the message and its "."
                for i, line in enumerate(lines):
                    if "\u304c\u30e2\u30b8\u30e5\u30fc\u30eb" in line and i + 1 < len(lines):
                        native_message = cp932(lines[i + 1])[:-1]
        if case.exit_code == 1 or case.answers() in ([], ["no"]):
            env_.expect(case, "files after the run", before, after)

        env_.expect(case, "number of box calls", len(case.boxes), len(calls))
        for index, (box, call) in enumerate(zip(case.boxes, calls)):
            function, args = call
            want = expected_call(box)
            env_.expect(case, "box %d function" % index, want[0], function)
            if function == "MessageBoxExA" and len(args) == 5:
                owner, (text, whole), (caption, caption_whole), style, language = args
                # The trace prints whole 64-bit registers; a WORD argument is their low 16 bits
                # and a UINT their low 32, the rest being whatever the register held before.
                language &= 0xFFFF
                env_.expect(case, "box %d text" % index, (want[1], True), (text, whole))
                env_.expect(case, "box %d language" % index, want[4], language)
            elif function == "MessageBoxA" and len(args) == 4:
                owner, (text, whole), (caption, caption_whole), style = args
                env_.expect(case, "report owner", 0, owner)
                check_report(env_, case, box, text, whole, native_message)
            else:
                env_.fail(case, "box %d: unexpected arguments %r" % (index, args))
                continue
            env_.expect(case, "box %d caption" % index, (want[2], True), (caption, caption_whole))
            env_.expect(case, "box %d style" % index, hex(want[3]), hex(style & 0xFFFFFFFF))

        for index, (box, screen) in enumerate(zip(case.boxes, shown)):
            if screen is None:
                continue
            want = expected_call(box)
            env_.expect(case, "box %d caption on screen" % index, want[2], screen.get("caption"))
            if box.kind == "report":
                check_report(env_, case, box, screen.get("text", b""), True, native_message)
            else:
                env_.expect(case, "box %d text on screen" % index, box.text, screen.get("text"))
            buttons = {name: value for name, value in screen.items()
                       if name in ("ok", "cancel", "yes", "no")}
            want_buttons = ({"yes": cp932(YES_LABEL), "no": cp932(NO_LABEL)} if box.kind == "ask"
                            else {"ok": cp932(OK_LABEL)})
            env_.expect(case, "box %d buttons" % index, want_buttons, buttons)
    finally:
        for root, dirs, files in os.walk(work):
            for name in dirs + files:
                os.chmod(os.path.join(root, name), 0o755)
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--screenshots", required=True)
    parser.add_argument("--only", help="run only the cases whose name holds this text")
    args = parser.parse_args()
    for name in ("program", "helper", "native", "wine", "screenshots"):
        setattr(args, name, os.path.abspath(getattr(args, name)))

    start = time.monotonic()
    env = Environment(args)
    try:
        for case in cases():
            if args.only and args.only not in case.name:
                continue
            print("case: " + case.name, flush=True)
            count = len(env.failures)
            case_start = time.monotonic()
            check_case(env, case)
            print("  %s in %.1f s" % ("ok" if len(env.failures) == count else "FAILED",
                                      time.monotonic() - case_start), flush=True)
    finally:
        env.close()
    print("%d failures in %.0f s; screenshots in %s"
          % (len(env.failures), time.monotonic() - start, args.screenshots))
    for failure in env.failures:
        print("FAILED " + failure)
    missing = {"information.png", "question.png", "failure.png"} - env.shots
    if not args.only and missing:
        print("FAILED no screenshot of " + ", ".join(sorted(missing)))
        return 1
    return 1 if env.failures else 0


if __name__ == "__main__":
    sys.exit(main())
