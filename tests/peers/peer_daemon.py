"""Start, stop and serve for the local test peers: `start FOLDER [ARGS...]` runs the peer's
`serve` in a session of its own and waits for its ready file, `stop FOLDER` ends that session,
`serve FOLDER [ARGS...]` is what runs in it."""
import os
import signal
import subprocess
import sys
import time


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
