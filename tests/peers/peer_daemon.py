"""Start, stop and serve for the local test peers: `start FOLDER [ARGS...]` runs the peer's
`serve` in a session of its own and waits for its ready file, `stop FOLDER` ends that session,
`serve FOLDER [ARGS...]` is what runs in it."""
import os
import signal
import socket
import subprocess
import sys
import time


_given_ports = set()


def free_port():
    """A port of 127.0.0.1 free at this moment, for a reference server started on it.

    Never one handed out before by this process: the system may offer a port again as soon
    as the probe lets go of it, before the server picked for it has bound it, and two servers
    started on one port leave the slower one dead while the port answers for both."""
    while True:
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        if port not in _given_ports:
            _given_ports.add(port)
            return port


def wait_listening(port, seconds=20):
    """True once something accepts connections on port of 127.0.0.1, false after seconds."""
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def publish(folder, name, text):
    """Writes folder/name whole at once: `start` waits for it, and must never read half of it."""
    tmp = os.path.join(folder, name + ".tmp")
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, os.path.join(folder, name))


def end_children_on_term(children):
    """On SIGTERM, ends the child processes (killing any that lingers) and exits."""
    def finish(*_):
        for child in children:
            child.terminate()
        for child in children:
            try:
                child.wait(timeout=10)
            except subprocess.TimeoutExpired:
                child.kill()
        sys.exit(0)

    signal.signal(signal.SIGTERM, finish)


def stop(pid_file, group=False):
    try:
        pid = int(open(pid_file).read())
    except (OSError, ValueError):
        return
    try:
        # With group, the servers the peer started get the signal too (it leads its group);
        # without, the peer's own handler ends them in its own way.
        if group:
            os.killpg(pid, signal.SIGTERM)
        else:
            os.kill(pid, signal.SIGTERM)
    except OSError:
        pass
    os.remove(pid_file)
    # Wait until it is gone (a zombie counts as gone): a server started right after, on the
    # same folder, would find the old one's pid file still in use (squid refuses to start).
    for _ in range(200):
        try:
            with open("/proc/%d/stat" % pid) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    return
        except (OSError, IndexError):
            return
        time.sleep(0.1)


def run(script, serve, ready_name, what, tries=100, echo=False, group=False):
    action, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    extra = sys.argv[3:]
    os.makedirs(folder, exist_ok=True)
    ready = os.path.join(folder, ready_name)
    pid_file = os.path.join(folder, "pid")
    if action == "serve":
        serve(folder, *extra)
    elif action == "start":
        stop(pid_file, group)
        if os.path.exists(ready):
            os.remove(ready)
        proc = subprocess.Popen([sys.executable, os.path.abspath(script), "serve", folder, *extra],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        with open(pid_file, "w") as f:
            f.write(str(proc.pid))
        for _ in range(tries):
            if os.path.exists(ready):
                if echo:
                    print(open(ready).read(), end="")
                return
            if proc.poll() is not None:
                break
            time.sleep(0.1)
        stop(pid_file, group)
        sys.exit(what + " did not start")
    elif action == "stop":
        stop(pid_file, group)
