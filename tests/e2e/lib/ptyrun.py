#!/usr/bin/env python3
"""Runs a command with its standard output on a pseudo-terminal, for the progress
line's rows.

  ptyrun.py run RAW MODE CMD...   runs CMD (stderr to RAW.err), keeps every byte it
                                  wrote in RAW, exits with its exit code (124: it
                                  did not end within 120 s). MODE: "resize" widens the
                                  terminal twice once the line shows (SIGWINCH);
                                  "close" closes the terminal then (writes fail);
                                  "both" puts stderr on the terminal too.
  ptyrun.py screen RAW            prints the text RAW leaves on a screen: a carriage
                                  return goes back to column 0, blanks at line ends
                                  are invisible.
"""
import fcntl, os, select, struct, subprocess, sys, termios, time


def set_width(fd, columns):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))


def run(raw_path, mode, cmd):
    master, slave = os.openpty()
    set_width(slave, 80)
    with_ctty = mode != "close"  # a closed controlling terminal would hang it up

    def own_terminal():
        if with_ctty:
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

    with open(raw_path + ".err", "wb") as err:
        child = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=slave,
                                 stderr=slave if mode == "both" else err,
                                 start_new_session=True, preexec_fn=own_terminal)
    os.close(slave)
    raw, deadline, widths = b"", time.time() + 120, [100, 120]
    while master is not None and time.time() < deadline:
        if select.select([master], [], [], 0.1)[0]:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                chunk = b""
            if not chunk:
                break
            raw += chunk
        if b"%] " in raw and mode == "resize" and widths:
            set_width(master, widths.pop(0))
        elif b"%] " in raw and mode == "close":
            os.close(master)
            master = None
    try:
        code = child.wait(max(1, deadline - time.time()))
    except subprocess.TimeoutExpired:
        child.kill()
        code = 124
    with open(raw_path, "wb") as out:
        out.write(raw)
    return code


def screen(raw_path):
    lines, line, column = [], [], 0
    for ch in open(raw_path, "rb").read().decode("utf-8", "replace"):
        if ch == "\r":
            column = 0
        elif ch == "\n":
            lines.append("".join(line).rstrip(" "))
            line, column = [], 0
        else:
            line[column:column + 1] = [ch]
            column += 1
    if line:
        lines.append("".join(line).rstrip(" "))
    sys.stdout.write("".join(l + "\n" for l in lines))


if sys.argv[1] == "run":
    sys.exit(run(sys.argv[2], sys.argv[3], sys.argv[4:]))
screen(sys.argv[2])
