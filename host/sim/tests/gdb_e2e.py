#!/usr/bin/env python3
"""korvel-sim's GDB server driven by gdb-multiarch, as a user debugs firmware.

Usage: gdb_e2e.py KORVEL_SIM FIRMWARE_DIR CPU

Three sessions: (1) debug_target.elf started halted (--gdb-wait): load, break at main, step into
a function, finish, next, print and set a variable, a write and a read watchpoint, monitor
reset, then continue to the firmware's exit with a status the debugger set; (2) blink.elf
running when the debugger attaches: continue in the background, interrupt (Ctrl-C), kill;
(3) the port already taken: one line and status 2.
"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

KORVEL_SIM, FIRMWARE_DIR, CPU = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []


def check(condition, what, context=""):
    if not condition:
        failures.append(what)
        print("FAILED: " + what + ("\n" + context if context else ""), flush=True)


def start_sim(firmware, *extra):
    env = dict(os.environ)
    env.pop("DISPLAY", None)  # headless runs start a private virtual display
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
    err = tempfile.NamedTemporaryFile("w+", suffix=".err", delete=False)
    out = tempfile.NamedTemporaryFile("w+", suffix=".out", delete=False)
    proc = subprocess.Popen([KORVEL_SIM, "--headless", "--no-board", "--cpu", CPU, *extra, firmware],
                            stdout=out, stderr=err, env=env)
    port = None
    deadline = time.time() + 60
    while time.time() < deadline and proc.poll() is None:
        text = open(err.name).read()
        m = re.search(r"GDB server on 127\.0\.0\.1:(\d+)", text)
        if m:
            port = int(m.group(1))
            break
        time.sleep(0.1)
    return proc, port, out.name, err.name


def run_gdb(firmware, port, commands, timeout=120, interrupt_after=None):
    """Runs the commands in gdb-multiarch; interrupt_after: seconds after which gdb gets SIGINT,
    as from Ctrl-C on its terminal (it passes the interrupt on to the target)."""
    script = tempfile.NamedTemporaryFile("w", suffix=".gdb", delete=False)
    script.write("set pagination off\nset confirm off\nset width 0\n")
    script.write("target remote :%d\n" % port)
    script.write("\n".join(commands) + "\n")
    script.close()
    gdb = subprocess.Popen(["gdb-multiarch", "-nx", "-batch", "-x", script.name, firmware],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if interrupt_after is not None:
        time.sleep(interrupt_after)
        gdb.send_signal(signal.SIGINT)
    try:
        text, _ = gdb.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        gdb.kill()
        text, _ = gdb.communicate()
        text += "\n(gdb timed out)"
    return text


def session_debug_target():
    fw = os.path.join(FIRMWARE_DIR, "debug_target.elf")
    proc, port, out, err = start_sim(fw, "--fast", "--gdb", "0", "--gdb-wait")
    check(port is not None, "korvel-sim names its GDB port", open(err).read())
    if port is None:
        proc.kill()
        return
    text = run_gdb(fw, port, [
        "info registers pc",
        "load",
        "break main",
        "continue",
        "step",
        "backtrace",
        "finish",
        "next",
        "print counter",
        "set var counter = 40",
        "print counter",
        "print/x $xpsr",
        "watch watched",
        "continue",
        "delete",
        "rwatch watched",
        "continue",
        "delete",
        "monitor help",
        "monitor reset",
        "flushregs",
        "print ($pc == ((unsigned) Reset_Handler & ~1)) + 100",
        "break bump",
        "continue",
        "print counter",
        "delete",
        "set var status = 42",
        "continue",
    ])
    status = proc.wait(timeout=60)
    stdout = open(out).read()
    ctx = text + "\n--- korvel-sim stderr ---\n" + open(err).read()
    check(re.search(r"Transfer rate|Loading section", text) is not None, "load writes the sections", ctx)
    check(re.search(r"Breakpoint 1, main \(\) at .*debug_target\.c:\d+", text) is not None, "stops at main", ctx)
    check(re.search(r"bump \(by=.*\) at .*debug_target\.c:10", text) is not None, "step enters bump", ctx)
    check(re.search(r"#1 .* in main \(\)", text) is not None, "backtrace shows main as caller", ctx)
    check("Value returned is $1 = 2" in text, "finish returns 2", ctx)
    check(re.search(r"^17\s+watched = total;", text, re.M) is not None, "next reaches line 17", ctx)
    check("$2 = 10" in text and "$3 = 40" in text, "print and set var counter", ctx)
    check(re.search(r"Hardware watchpoint 2: watched\s+Old value = 0\s+New value = 30", text) is not None,
          "write watchpoint hit with old and new value", ctx)
    check(re.search(r"Hardware read watchpoint 3: watched\s+Value = 30", text) is not None,
          "read watchpoint hit", ctx)
    check("monitor reset" in text and "korvel-sim: chip reset" in text, "monitor help and reset", ctx)
    check(re.search(r"\$\d+ = 101", text) is not None, "monitor reset halts at the reset vector", ctx)
    check(re.search(r"Breakpoint 4, bump .*\n.*\n\$\d+ = 0", text) is not None,
          "after monitor reset the firmware starts afresh (counter 0 at bump)", ctx)
    check("[Inferior 1 (Remote target) exited with code 052]" in text, "continue to the exit status set by the debugger", ctx)
    check(status == 42, "korvel-sim ends with the firmware's status 42 (got %s)" % status, ctx)
    check("debug target: total" in stdout, "the firmware's output on standard output", stdout)


def session_interrupt_and_kill():
    fw = os.path.join(FIRMWARE_DIR, "blink.elf")
    proc, port, out, err = start_sim(fw, "--time", "600s", "--gdb", "0")
    check(port is not None, "korvel-sim names its GDB port (running firmware)", open(err).read())
    if port is None:
        proc.kill()
        return
    time.sleep(0.5)  # the firmware runs before the debugger comes
    text = run_gdb(fw, port, [
        "print $pc != 0",
        "continue",
        "print/x $pc",
        "kill",
    ], interrupt_after=3)
    try:
        status = proc.wait(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        status = None
    ctx = text + "\n--- korvel-sim stderr ---\n" + open(err).read()
    check("received signal SIGINT" in text, "interrupt stops the running firmware with SIGINT", ctx)
    check("debugger connected" in open(err).read(), "korvel-sim notes the debugger", ctx)
    check(status == 0, "kill ends korvel-sim's run (status %s)" % status, ctx)


def session_fault():
    fw = os.path.join(FIRMWARE_DIR, "fault.elf")
    proc, port, out, err = start_sim(fw, "--fast", "--gdb", "0", "--gdb-wait")
    check(port is not None, "korvel-sim names its GDB port (fault)", open(err).read())
    if port is None:
        proc.kill()
        return
    text = run_gdb(fw, port, ["continue", "backtrace 1", "print/x $ipsr = $xpsr & 0x1ff", "continue"])
    status = proc.wait(timeout=60)
    ctx = text + "\n--- korvel-sim stderr ---\n" + open(err).read()
    check("Firmware fault: read from unmapped address 0xA0000000" in text, "the fault report on GDB's console", ctx)
    check("Program received signal SIGSEGV" in text, "a lockup stops with SIGSEGV", ctx)
    check(re.search(r"#0 .*HardFault_Handler", text) is not None, "the stop is in the HardFault handler", ctx)
    check("$1 = 0x3" in text, "IPSR says HardFault", ctx)
    check("Program terminated with signal SIGSEGV" in text, "continuing after the lockup ends the program", ctx)
    check(status == 3, "korvel-sim ends with the fault status 3 (got %s)" % status, ctx)


def session_port_taken():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
    fw = os.path.join(FIRMWARE_DIR, "debug_target.elf")
    r = subprocess.run([KORVEL_SIM, "--headless", "--no-board", "--cpu", CPU, "--gdb", str(port), fw],
                       capture_output=True, text=True, timeout=120, env=env)
    listener.close()
    lines = [l for l in r.stderr.splitlines() if "--gdb" in l]
    check(r.returncode == 2, "a taken port ends korvel-sim with status 2 (got %d)" % r.returncode, r.stderr)
    check(len(lines) == 1 and "cannot listen on 127.0.0.1:%d" % port in lines[0], "one line names the port", r.stderr)


session_debug_target()
session_interrupt_and_kill()
session_fault()
session_port_taken()
if failures:
    print("%d check(s) failed" % len(failures))
    sys.exit(1)
print("all GDB checks passed (cpu %s)" % CPU)
