#!/usr/bin/python3
"""Side by side: one generation in Corvantis and the same job in LibreOffice Calc.

The same job: open the projection template, write the 2 header cells and the 462 line cells
(the same texts), recalculate, save as Excel 97-2003, and make a picture of the used range.
Corvantis runs it in-process through its facade (bench/generation_road, which also reopens the
saved workbook and reads the picture back, as the program does); LibreOffice runs it headless
through its Python bridge (python3-uno), once started afresh for every run and once already
running. Also timed: a click on "Start Creating Template" to the preview shown on an X server
(bench/button_to_preview), the main window's start-up (bench/startup_time) against an empty window
of its size (bench/empty_window), the template's recalculation against its opening (bench_engine),
and the peak memory of a generation.

    /usr/bin/python3 bench/bench_vs_libreoffice.py --build build-bench --runs 10

Needs Debian's python3-uno and libreoffice-calc-nogui; run with /usr/bin/python3, since other
Python installations do not see Debian's uno module.
"""
import argparse
import datetime
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SKIP_ROWS = {13, 14, 15, 23, 24, 25, 26, 27}
LINE_ROWS = [r for r in range(6, 47) if r not in SKIP_ROWS]   # 33 rows


def cell_text(line, column):
    """The texts bench/generation_road.cpp assigns (keep the two in step)."""
    if column == 0:
        return "Category %d" % (line + 1)
    if column == 1:
        return "12.5" if line % 3 == 0 else ""
    return "${:,.2f}".format(amount(line, column))   # FormatAmount under en_US: "$12,345.67"


def amount(line, column):
    return (((line + 1) * 7919 + column * 104729) % 2000000) / 100.0


def excel_serial(d):
    return (d - datetime.date(1899, 12, 30)).days


# ----------------------------------------------------------------------------- Corvantis

def run_corvantis(build, runs, env):
    out = subprocess.run([os.path.join(build, "bench", "generation_road"), str(runs)],
                         env=env, check=True, capture_output=True, text=True).stdout
    values = dict(line.split()[:2] for line in out.splitlines() if not line.startswith("run "))
    times = [float(line.split()[2]) for line in out.splitlines() if line.startswith("run ")]
    return times, float(values["peak_rss_mb"]), float(values["rss_before_mb"])


def run_startup(build, runs, env):
    """The main window's start-up and the floor's (an empty window of its size), interleaved."""
    exe = os.path.join(build, "bench", "startup_time")
    floor = os.path.join(build, "bench", "empty_window")
    config = tempfile.mkdtemp(prefix="corvantis-startup-")
    env = dict(env, XDG_CONFIG_HOME=config)
    try:
        # A store holding the example figures, so Form_Load formats 396 amounts as on a used machine.
        subprocess.run([exe, "--example"], env=env, check=True, capture_output=True)
        inside, whole, empty = [], [], []
        for _ in range(runs):
            t = time.perf_counter()
            out = subprocess.run([exe], env=env, check=True, capture_output=True, text=True).stdout
            whole.append((time.perf_counter() - t) * 1000)
            inside.append(float(out.split()[1]))
            out = subprocess.run([floor], env=env, check=True, capture_output=True, text=True).stdout
            empty.append(float(out.split()[1]))
        return inside, whole, empty
    finally:
        shutil.rmtree(config, ignore_errors=True)


def run_button(build, runs, env):
    """A click on "Start Creating Template" to the preview shown, on an X server: the one of
    DISPLAY, else a virtual one (Xvfb) with the openbox window manager where it is installed."""
    exe = os.path.join(build, "bench", "button_to_preview")
    root = tempfile.mkdtemp(prefix="corvantis-button-")
    env = dict(env, XDG_CONFIG_HOME=os.path.join(root, "config"), TEMP=os.path.join(root, "temp"),
               QT_QPA_PLATFORM="xcb")
    os.makedirs(env["TEMP"])
    command = [exe, str(runs)]
    if not env.get("DISPLAY"):
        inner = ("(openbox >/dev/null 2>&1 &) ; sleep 1; " if shutil.which("openbox") else "") + 'exec "$@"'
        command = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "sh", "-c", inner, "sh"] + command
    try:
        out = subprocess.run(command, env=env, check=True, capture_output=True, text=True).stdout
        return [float(line.split()[2]) for line in out.splitlines() if line.startswith("run ")]
    finally:
        shutil.rmtree(root, ignore_errors=True)


def run_engine(build, runs, env):
    """Opening the template and recalculating it (bench_engine, Google Benchmark): medians in ms.
    The repetitions of the two are interleaved, so a machine that slows down or speeds up during
    the run weighs on both alike rather than on the one that happened to run later."""
    import json
    out = subprocess.run([os.path.join(build, "bench", "bench_engine"),
                          "--benchmark_filter=^BM_(OpenTemplate|Recalculate)$",
                          "--benchmark_repetitions=%d" % max(3, runs), "--benchmark_enable_random_interleaving=true",
                          "--benchmark_format=json"],
                         env=env, check=True, capture_output=True, text=True).stdout
    medians = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0}[b["time_unit"]]
            medians[b["run_name"]] = b["real_time"] * scale
    return medians["BM_OpenTemplate"], medians["BM_Recalculate"]


# ----------------------------------------------------------------------------- LibreOffice

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Office:
    """A headless soffice with a private profile, reached over a socket."""

    def __init__(self, profile):
        import uno  # noqa: F401  (fails early with a clear message when python3-uno is missing)
        self.profile = profile
        self.port = free_port()
        self.proc = subprocess.Popen(
            ["soffice", "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
             "-env:UserInstallation=file://" + profile,
             "--accept=socket,host=127.0.0.1,port=%d;urp;" % self.port],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.desktop = self._connect()

    def _connect(self):
        import uno
        from com.sun.star.connection import NoConnectException
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        url = "uno:socket,host=127.0.0.1,port=%d;urp;StarOffice.ComponentContext" % self.port
        deadline = time.monotonic() + 120
        while True:
            try:
                ctx = resolver.resolve(url)
                return ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
            except NoConnectException:
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("soffice did not accept a connection")
                time.sleep(0.05)

    def close(self):
        try:
            self.desktop.terminate()
        except Exception:
            pass
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def props(**kw):
    import uno
    from com.sun.star.beans import PropertyValue
    out = []
    for name, value in kw.items():
        p = PropertyValue()
        p.Name, p.Value = name, value
        out.append(p)
    return tuple(out)


def libreoffice_job(desktop, template_url, work, index):
    import uno
    doc = desktop.loadComponentFromURL(template_url, "_blank", 0, props(Hidden=True))
    try:
        sheet = doc.Sheets.getByIndex(0)
        # Company name K2 and fiscal start R2 (a date serial, as the program assigns a date).
        sheet.getCellByPosition(10, 1).setFormula("Harbour Lane Bakery")
        sheet.getCellByPosition(17, 1).setValue(excel_serial(datetime.date(2021, 11, 15)))
        for line, row in enumerate(LINE_ROWS):
            for column in range(14):
                col1 = 2 + column if column < 2 else 2 + 2 * (column - 1)
                # setFormula takes text the way it is typed: "$12.50" becomes a number.
                sheet.getCellByPosition(col1 - 1, row - 1).setFormula(cell_text(line, column))
        doc.calculateAll()
        # The job counts only when the texts became numbers: D13 totals the first month's revenue.
        expected = sum(amount(line, 2) for line in range(7))
        if abs(sheet.getCellByPosition(3, 12).getValue() - expected) > 0.005:
            raise RuntimeError("LibreOffice did not take the amounts as numbers")
        xls = os.path.join(work, "lo%03d.xls" % index)
        doc.storeToURL(uno.systemPathToFileUrl(xls), props(FilterName="MS Excel 97"))
        # The used range as a picture: select it and export the selection.
        cursor = sheet.createCursor()
        cursor.gotoEndOfUsedArea(False)
        last = cursor.getRangeAddress()
        used = sheet.getCellRangeByPosition(0, 0, last.EndColumn, last.EndRow)
        doc.getCurrentController().select(used)
        png = os.path.join(work, "lo%03d.png" % index)
        doc.storeToURL(uno.systemPathToFileUrl(png), props(FilterName="calc_png_Export", SelectionOnly=True))
        if os.path.getsize(xls) == 0 or os.path.getsize(png) == 0:
            raise RuntimeError("LibreOffice wrote an empty file")
        return xls, png
    finally:
        doc.close(True)


def run_libreoffice(template, runs, fresh_each_run):
    import uno
    root = tempfile.mkdtemp(prefix="corvantis-lo-")
    profile = os.path.join(root, "profile")
    work = os.path.join(root, "out")
    os.makedirs(work)
    template_url = uno.systemPathToFileUrl(os.path.abspath(template))
    times = []
    try:
        # The first start writes the private profile; not counted in either mode.
        office = Office(profile)
        libreoffice_job(office.desktop, template_url, work, 999)
        if fresh_each_run:
            office.close()
        for i in range(runs):
            t = time.perf_counter()
            if fresh_each_run:
                office = Office(profile)
            libreoffice_job(office.desktop, template_url, work, i)
            times.append((time.perf_counter() - t) * 1000)
            if fresh_each_run:
                office.close()
        if not fresh_each_run:
            office.close()
        return times, sorted(os.listdir(work))
    finally:
        shutil.rmtree(root, ignore_errors=True)


# ----------------------------------------------------------------------------- report

def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default="build-bench", help="build folder with bench/generation_road")
    ap.add_argument("--runs", type=int, default=10)
    ap.add_argument("--template", help="the projection template (default: <build>/template.xlt)")
    ap.add_argument("--skip-libreoffice", action="store_true")
    args = ap.parse_args()
    template = args.template or os.path.join(args.build, "template.xlt")
    env = dict(os.environ, QT_QPA_PLATFORM=os.environ.get("QT_QPA_PLATFORM", "offscreen"))

    ours, peak, before = run_corvantis(args.build, args.runs, env)
    ours_ms = statistics.median(ours)
    print("Corvantis generation road, in-process:  median %8.1f ms  (min %.1f, %d runs)"
          % (ours_ms, min(ours), len(ours)))
    print("Corvantis peak memory during generation: %.1f MB (%.1f MB before the first)" % (peak, before))

    button = run_button(args.build, args.runs, env)
    button_ms = statistics.median(button)
    print("Click to preview shown, on an X server:  median %8.1f ms  (min %.1f)" % (button_ms, min(button)))

    inside, whole, empty = run_startup(args.build, max(10, args.runs), env)
    startup_ms, floor_ms = statistics.median(inside), statistics.median(empty)
    print("Start-up to main window shown:           median %8.1f ms in main(), %.1f ms whole process"
          % (startup_ms, statistics.median(whole)))
    print("Empty window of the same size (floor):   median %8.1f ms in main()  -> start-up / floor = %.2fx"
          % (floor_ms, startup_ms / floor_ms))

    open_ms, recalc_ms = run_engine(args.build, args.runs, env)
    print("Template opened / recalculated (engine): median %.3f ms / %.3f ms  -> recalculation / open = %.2fx"
          % (open_ms, recalc_ms, recalc_ms / open_ms))

    if args.skip_libreoffice:
        return 0
    for fresh, label in ((True, "started for each run"), (False, "already running")):
        times, _ = run_libreoffice(template, args.runs, fresh)
        lo_ms = statistics.median(times)
        print("LibreOffice, %-22s median %8.1f ms  (min %.1f)  -> LibreOffice / Corvantis = %.1fx"
              % (label + ":", lo_ms, min(times), lo_ms / ours_ms))
        if fresh:
            print("%-40s -> LibreOffice / click to preview = %.1fx" % ("", lo_ms / button_ms))
    return 0


if __name__ == "__main__":
    sys.exit(main())
