#!/usr/bin/python3
"""The agent at work: KVLService and Ferolin.dll installed in a Wine prefix of
their own, against the development update server, with a live view.

    demo.py [--scenario]

Run through scripts/demo.sh, which bootstraps and builds first. Interactive
mode shows the live view and takes single keys; --scenario plays the whole
story by itself, prints what it saw at each step and exits non-zero when a
step is not seen in time. Either way, on the way out the service and the VPN
stand-in are removed, the devserver is stopped and the prefix is shut down.

The person drives the story only through the devserver's state file and the
service manager, never by writing the agent's settings, with one declared
exception: the key that ages "ts_stt" by a week (it says so on screen).
"""
import argparse
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import termios
import time
import tty

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEMO = os.path.join(ROOT, "build", "demo")
PREFIX = os.path.join(DEMO, "wineprefix")
RUN = os.path.join(DEMO, "run")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")
DEVSERVER = os.path.join(ROOT, "build", "host", "devserver", "kvl-devserver")
WIN64 = os.path.join(ROOT, "build", "win64")
PRODUCT = os.path.join(ROOT, "build", "windows")
SVCTOOL = os.path.join(WIN64, "tests", "service", "svctool.exe")
VPN_STANDIN = os.path.join(WIN64, "tests", "standins", "VPNKorvStandin.exe")
HALVEX_STANDIN = os.path.join(WIN64, "tests", "standins", "Halvex.exe")

DRIVE_C = os.path.join(PREFIX, "drive_c")
INSTALL_DIR = os.path.join(DRIVE_C, "KVL")  # C:\KVL\
CONFIG_DIR = os.path.join(INSTALL_DIR, "config")
LOG_DIR = os.path.join(INSTALL_DIR, "logs")
VPN_DIR = os.path.join(DRIVE_C, "VPNKorv")
VPN_JOURNAL = os.path.join(VPN_DIR, "vpnkorv-journal.txt")
SERVICE_LOG = os.path.join(LOG_DIR, "kvlservice.log")
REQUEST_LOG = os.path.join(RUN, "requests.log")
STATE_FILE = os.path.join(RUN, "state.json")
SETTINGS_KEY = r"HKLM\SOFTWARE\Pelmora\VPNKorv"

LOGIN = "demo"
STATUS_INTERVAL = 180
STEP_TIMEOUT = 150  # seconds a scenario step may take before it counts as not seen
WINE_TIMEOUT = 180  # any single Wine program


def wine(*args, timeout=WINE_TIMEOUT, check=False):
    """Runs a program in the demo's prefix; returns its stdout as text."""
    done = subprocess.run([WINE_RUN, "--prefix=" + PREFIX, *args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
    if check and done.returncode != 0:
        raise RuntimeError("%s exited with %d" % (" ".join(os.path.basename(a) for a in args[:2]), done.returncode))
    return done.stdout.decode("cp1252", "replace").replace("\r", "")


class Demo:
    def __init__(self, say):
        self.say = say
        self.devserver = None
        self.config_version = 1
        self.status_word = "ativo"
        self.unreachable = False
        self.ports = {}
        self.binaries = None

    # --- the devserver's state file: the only way the story reaches the agent ---
    def write_state(self):
        with open(os.path.join(RUN, "files", "vpn.conf"), "w") as f:
            f.write("# demo configuration, version %d\nremote vpn.example 1194\n" % self.config_version)
        entry = {
            "status": {"result": "0", "v_stt": "1", "stt": self.status_word,
                       "msg": {"ativo": "Conta ativa", "bloqueado": "Conta bloqueada",
                               "cancelado": "Conta cancelada"}.get(self.status_word, "")},
            "config": {"result": "0", "files": [
                {"v_cnf": str(self.config_version), "is_cnf": "1", "url_cnf": "{{files}}/vpn.conf",
                 "sub_dir": "", "file_cnf": "vpn.conf"}]},
            "soft": {"result": "1"},
        }
        if self.unreachable:
            entry["misbehave"] = {name: {"drop": True} for name in ("chk_stt", "chk_cnf_upd", "chk_sw_upd")}
        scratch = STATE_FILE + ".new"
        with open(scratch, "w") as f:
            json.dump({"subscribers": {LOGIN: entry}}, f, indent=1)
        os.replace(scratch, STATE_FILE)

    # --- set-up, each step cheap when already done ---
    def set_up(self):
        # Under emulation every 32-bit process start costs about a minute, and
        # the shipped binaries have a tier of their own: the story is told by
        # the 64-bit build of the same sources there.
        native32 = subprocess.run([WINE_RUN, "--runs-32bit-natively"]).returncode == 0
        if native32:
            self.binaries = (os.path.join(PRODUCT, "service", "KVLService.exe"),
                             os.path.join(PRODUCT, "ferolin", "Ferolin.dll"),
                             os.path.join(PRODUCT, "ferolin", "FerolinRun.exe"))
            self.say("This machine runs 32-bit programs: the demo runs the shipped 32-bit build.")
        else:
            self.binaries = (os.path.join(WIN64, "service", "KVLService.exe"),
                             os.path.join(WIN64, "ferolin", "Ferolin.dll"),
                             os.path.join(WIN64, "ferolin", "FerolinRun.exe"))
            self.say("This machine runs no 32-bit programs natively: the demo runs the 64-bit build of the same sources.")
        for path in (*self.binaries, SVCTOOL, VPN_STANDIN, HALVEX_STANDIN, DEVSERVER):
            if not os.path.isfile(path):
                raise RuntimeError("missing %s: run scripts/demo.sh, which builds it" % path)

        os.makedirs(RUN, exist_ok=True)
        self.say("Booting the demo's own Wine prefix (%s)" % PREFIX)
        subprocess.run([WINE_RUN, "--prefix=" + PREFIX, "--up"], check=True, timeout=900,
                       stdin=subprocess.DEVNULL)
        # Whatever an interrupted run left behind goes first.
        self.remove_services()

        self.say("Test PKI, installation directory C:\\KVL with bin\\, config\\ and logs\\")
        subprocess.run([os.path.join(ROOT, "scripts", "make-test-pki.sh"), os.path.join(RUN, "pki")],
                       check=True, stdout=subprocess.DEVNULL)
        for path in (INSTALL_DIR, VPN_DIR):
            shutil.rmtree(path, ignore_errors=True)
        for path in (os.path.join(INSTALL_DIR, "bin"), CONFIG_DIR, LOG_DIR, VPN_DIR, os.path.join(RUN, "files")):
            os.makedirs(path, exist_ok=True)
        for path in self.binaries:
            shutil.copy(path, INSTALL_DIR)
        # "Halvex" belongs to the VPN client; its stand-in lies in bin\,
        # where the service starts it by full path.
        shutil.copy(HALVEX_STANDIN, os.path.join(INSTALL_DIR, "bin"))
        shutil.copy(VPN_STANDIN, VPN_DIR)
        for name in ("client_cert.pem", "client_key.pem"):
            shutil.copy(os.path.join(RUN, "pki", name), os.path.join(INSTALL_DIR, "bin"))

        self.start_devserver()

        self.say("Settings as an installer leaves them (32-bit view of %s)" % SETTINGS_KEY)
        wine(SVCTOOL, "drop-settings-key")
        for name, value in (("", "C:\\KVL\\"), ("user_login", LOGIN), ("password_login", "demo-secret"),
                            ("update_server", "https://127.0.0.1:%s/" % self.ports["port"]),
                            ("config_dir", "C:\\KVL\\config"), ("log_dir", "C:\\KVL\\logs"),
                            ("v_sw", "1.0"), ("v_cnf", ""), ("v_file", ""), ("first_time", "true")):
            wine(SVCTOOL, "set-setting", name, value, check=True)

        self.say("Installing the VPN connection service stand-in and KVLService")
        wine(os.path.join(VPN_DIR, "VPNKorvStandin.exe"), "-install", check=True)
        wine(os.path.join(INSTALL_DIR, "KVLService.exe"), "-install")
        if self.service_state() != "STOPPED":
            raise RuntimeError("KVLService -install did not register the service")
        self.start_service()

    def start_devserver(self):
        self.write_state()
        ready = os.path.join(RUN, "ready")
        if os.path.exists(ready):
            os.remove(ready)
        out = open(os.path.join(RUN, "devserver.out"), "w")
        self.devserver = subprocess.Popen(
            [DEVSERVER, "--pki", os.path.join(RUN, "pki"), "--port", "0", "--files-port", "0",
             "--state", STATE_FILE, "--files", os.path.join(RUN, "files"), "--request-log", REQUEST_LOG,
             "--ready-file", ready], stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        deadline = time.time() + 30
        while not os.path.exists(ready):
            if self.devserver.poll() is not None or time.time() > deadline:
                raise RuntimeError("the devserver did not start; see %s" % out.name)
            time.sleep(0.1)
        with open(ready) as f:
            self.ports = dict(line.strip().split("=", 1) for line in f if "=" in line)
        self.say("Devserver: update server https://127.0.0.1:%s/, files on port %s"
                 % (self.ports["port"], self.ports["files_port"]))

    # --- the service manager ---
    def service_state(self):
        return wine(SVCTOOL, "state").strip() or "UNKNOWN"

    def start_service(self):
        wine(os.path.join(INSTALL_DIR, "KVLService.exe"), "-start")

    def restart_service(self):
        wine(os.path.join(INSTALL_DIR, "KVLService.exe"), "-stop")
        wine(SVCTOOL, "wait", "STOPPED", "60000")
        self.start_service()

    def remove_services(self):
        if os.path.isfile(os.path.join(INSTALL_DIR, "KVLService.exe")):
            wine(os.path.join(INSTALL_DIR, "KVLService.exe"), "-remove")
        wine(SVCTOOL, "purge")
        if os.path.isfile(os.path.join(VPN_DIR, "VPNKorvStandin.exe")):
            wine(os.path.join(VPN_DIR, "VPNKorvStandin.exe"), "-remove")

    def tear_down(self):
        try:
            self.remove_services()
        except Exception as error:  # the rest must still go
            self.say("removing the services: %s" % error)
        if self.devserver is not None and self.devserver.poll() is None:
            self.devserver.terminate()
            try:
                self.devserver.wait(10)
            except subprocess.TimeoutExpired:
                self.devserver.kill()
        subprocess.run([WINE_RUN, "--prefix=" + PREFIX, "--down"], stdin=subprocess.DEVNULL, timeout=120)

    # --- what the agent shows ---
    def settings(self):
        values = {}
        for line in wine("reg", "query", SETTINGS_KEY, "/reg:32").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2] if len(parts) == 3 else ""
        return values

    @staticmethod
    def vpn_state():
        try:
            with open(VPN_JOURNAL) as f:
                lines = [line.strip() for line in f if line.strip()]
        except OSError:
            return "never started"
        return {"start": "starting", "running": "RUNNING", "stop": "stopping",
                "stopped": "STOPPED"}.get(lines[-1], lines[-1]) if lines else "never started"

    @staticmethod
    def config_present(values):
        name = values.get("config_file", "")
        return bool(name) and os.path.isfile(os.path.join(CONFIG_DIR, name))

    @staticmethod
    def tail(path, count, encoding="cp1252"):
        try:
            with open(path, "rb") as f:
                return f.read().decode(encoding, "replace").replace("\r", "").splitlines()[-count:]
        except OSError:
            return []

    def request_lines(self, count):
        out = []
        for line in self.tail(REQUEST_LOG, count, "utf-8"):
            try:
                entry = json.loads(line)
            except ValueError:
                continue
            out.append("%s %-6s %-12s %-10s %s" % (entry.get("time", "")[11:19], entry.get("server", ""),
                                                  entry.get("method", ""), entry.get("action", ""),
                                                  entry.get("status", "")))
        return out

    def age_status_day(self):
        # The one write behind the agent's back, declared on screen: "ts_stt"
        # as a week and a day ago, so the next failed check blocks.
        stamp = time.localtime(time.time() - 8 * 86400)
        wine(SVCTOOL, "set-setting", "ts_stt", "%03d%02d%02d" % (stamp.tm_year - 1900, stamp.tm_mon - 1,
                                                                 stamp.tm_mday))


# --- the scenario ---------------------------------------------------------------
def wait_for(demo, what, test):
    deadline = time.time() + STEP_TIMEOUT
    while time.time() < deadline:
        values = demo.settings()
        if test(values):
            print("    seen: %s" % what, flush=True)
            return True
        time.sleep(2)
    print("    NOT SEEN within %d s: %s" % (STEP_TIMEOUT, what), flush=True)
    return False


def play_scenario(demo):
    steps = [
        ("the service starts with the account active",
         None,
         [("configuration downloaded", lambda v: demo.config_present(v) and v.get("v_cnf") == "1"),
          ("VPN stand-in started", lambda v: demo.vpn_state() == "RUNNING"),
          ("status check stored", lambda v: v.get("stt") == "ativo" and v.get("ts_stt", "") != "")]),
        ("the server blocks the account; the service restarts and checks at once",
         lambda: (setattr(demo, "status_word", "bloqueado"), demo.write_state(), demo.restart_service()),
         [("account blocked", lambda v: v.get("stt") == "bloqueado"),
          ("VPN stopped", lambda v: demo.vpn_state() == "STOPPED"),
          ("configuration removed", lambda v: not demo.config_present(v) and v.get("cnf") == "0")]),
        ("the account is active again",
         lambda: (setattr(demo, "status_word", "ativo"), demo.write_state(), demo.restart_service()),
         [("account active", lambda v: v.get("stt") == "ativo"),
          ("configuration back", lambda v: demo.config_present(v) and v.get("v_cnf") == "1"),
          ("VPN started", lambda v: demo.vpn_state() == "RUNNING")]),
    ]
    ok = True
    for number, (title, action, checks) in enumerate(steps, 1):
        print("step %d: %s" % (number, title), flush=True)
        if action is not None:
            action()
        for what, test in checks:
            ok = wait_for(demo, what, test) and ok
    state = demo.service_state()
    print("KVLService is %s" % state, flush=True)
    return ok and state == "RUNNING"


# --- the live view ----------------------------------------------------------------
KEYS = [("b", "block the account"), ("c", "cancel the account"), ("a", "activate it again"),
        ("n", "publish a new configuration version"), ("u", "server unreachable / reachable"),
        ("w", "age ts_stt by a week (writes the agent's setting!)"), ("r", "restart the service"),
        ("q", "quit")]


def render(demo, values, message):
    from rich.console import Group
    from rich.panel import Panel
    from rich.table import Table
    from rich.text import Text

    status = Table.grid(padding=(0, 2))
    status.add_column(style="bold")
    status.add_column()
    last_time = values.get("last_time", "")
    countdown = "-"
    if last_time.lstrip("-").isdigit():
        countdown = "%d s" % max(0, int(last_time) + STATUS_INTERVAL - int(time.time()))
    rows = [
        ("KVLService", demo.service_state()),
        ("VPNKorvService (stand-in)", demo.vpn_state()),
        ("account status (stt)", "%s  %s" % (values.get("stt", "-"), values.get("msg_stt", ""))),
        ("last successful check (ts_stt)", values.get("ts_stt", "-")),
        ("next status check in", countdown),
        ("configuration", "%s  version %s  %s" % (values.get("config_file", "-"), values.get("v_cnf", "-"),
                                                  "present" if demo.config_present(values) else "absent")),
        ("the server says", "%s%s" % (demo.status_word, ", unreachable" if demo.unreachable else "")),
    ]
    for name, value in rows:
        status.add_row(name, Text(value))
    keys = "   ".join("[bold]%s[/] %s" % key for key in KEYS)
    return Group(
        Panel(status, title="KVL agent under Wine"),
        # Log text is shown as it is: "status[ativo]" is not markup.
        Panel(Text("\n".join(demo.tail(SERVICE_LOG, 10)) or "(no log yet)"), title="service log"),
        Panel(Text("\n".join(demo.request_lines(6)) or "(no request yet)"), title="devserver requests"),
        Panel(keys + ("\n" + message if message else ""), title="keys"),
    )


def live_view(demo):
    from rich.live import Live

    message = "The first pass checks at once; later status checks come every 180 s."
    stdin = sys.stdin.fileno()
    saved = termios.tcgetattr(stdin)
    tty.setcbreak(stdin)
    try:
        with Live(render(demo, demo.settings(), message), refresh_per_second=2, screen=True) as live:
            while True:
                ready, _, _ = select.select([stdin], [], [], 2.0)
                key = os.read(stdin, 1).decode(errors="replace").lower() if ready else ""
                if key == "q":
                    return
                if key in ("b", "c", "a"):
                    demo.status_word = {"b": "bloqueado", "c": "cancelado", "a": "ativo"}[key]
                    demo.write_state()
                    message = "The server now says %s; the next status check sees it (r checks at once)." % (
                        demo.status_word)
                elif key == "n":
                    demo.config_version += 1
                    demo.write_state()
                    message = "Configuration version %d published; the scheduled update fetches it." % (
                        demo.config_version)
                elif key == "u":
                    demo.unreachable = not demo.unreachable
                    demo.write_state()
                    message = "The server now drops every request." if demo.unreachable else "The server answers again."
                elif key == "w":
                    demo.age_status_day()
                    message = ("Wrote ts_stt as of eight days ago, behind the agent's back: with the server "
                               "unreachable, the next failed check blocks the VPN (the seven-day rule).")
                elif key == "r":
                    demo.restart_service()
                    message = "Service restarted: its first pass checks the status at once."
                live.update(render(demo, demo.settings(), message))
    finally:
        termios.tcsetattr(stdin, termios.TCSADRAIN, saved)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scenario", action="store_true", help="play the story without a person and check it")
    options = parser.parse_args()
    if not options.scenario and not sys.stdin.isatty():
        parser.error("the live view needs a terminal; use --scenario")

    demo = Demo(lambda text: print("==> " + text, flush=True))
    # Ctrl+C and a terminating signal both end in the same clean-up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    result = 1
    try:
        demo.set_up()
        if options.scenario:
            result = 0 if play_scenario(demo) else 1
        else:
            live_view(demo)
            result = 0
    except KeyboardInterrupt:
        result = 130
    except (RuntimeError, subprocess.SubprocessError, OSError) as error:
        print("demo: %s" % error, file=sys.stderr)
    finally:
        print("==> Removing the services, stopping the devserver and the prefix", flush=True)
        demo.tear_down()
    if options.scenario:
        print("scenario: %s" % ("passed" if result == 0 else "FAILED"), flush=True)
    return result


if __name__ == "__main__":
    sys.exit(main())
