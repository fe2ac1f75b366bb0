#!/usr/bin/env bash
# The built program on a virtual X display, driven like a user: start it with figures already in
# its settings file, press "Start Creating Template", read the generated workbook back with
# Gnumeric, close the preview window and see the program end and its scratch workbook go.
#
# Usage: run_program.sh /path/to/corvantis
# Needs xvfb-run (with Xvfb and xauth), xdotool, ssconvert and python3; without them it prints
# "SKIPPED: ..." and succeeds.
set -uo pipefail

program=${1:-}
fail() { echo "FAILED: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 0; }

[[ -n "$program" && -x "$program" ]] || fail "no program given or not executable: '$program'"
for tool in xvfb-run xdotool ssconvert; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
python=/usr/bin/python3
[[ -x $python ]] || python=$(command -v python3 || true)
[[ -n "$python" ]] || skip "python3 is not installed"

# Inside the virtual display: the real work.
if [[ "${CORVANTIS_ROAD_INSIDE:-}" != 1 ]]; then
    export CORVANTIS_ROAD_INSIDE=1
    # -noreset: without it the server resets whenever its last client leaves, and a client that
    # connects at that moment is turned away.
    exec xvfb-run -a -s "-screen 0 1280x900x24 -noreset" bash "$0" "$program"
fi

work=$(mktemp -d)
pid=
cleanup() {
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

if locale -a 2>/dev/null | grep -qix 'en_US.utf-\?8'; then
    lang=en_US.UTF-8
else
    lang=C.UTF-8
fi
export LANG=$lang LC_ALL=$lang
export XDG_CONFIG_HOME=$work/config TEMP=$work/temp
export QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR
mkdir -p "$XDG_CONFIG_HOME/Kestrelon" "$TEMP"

# The seeded figures. Keys: control name and line index (months 1-12 of line 0 are txtYear10 ...
# txtYear120; month 1 of lines 10-29 is txtYear1_<line>).
company="Harbour Lights Bakery"
cat >"$XDG_CONFIG_HOME/Kestrelon/Corvantis.ini" <<EOF
[Corvantis]
txtCompanyName=$company
DTPicker1=2025-11-15
txtRevenue0=Bread
txtInd0=35
txtYear10=1234.5
txtYear20=2000
txtYear120=1500
txtRevenue1=Cakes
txtYear11=800
txtYear31=650.25
txtRevenue7=Flour
txtYear17=600
txtYear27=900
txtYear18=100
txtYear1_14=450
txtYear214=450
txtYear1214=300
txtYear1_20=75.5
txtYear632=19.99
EOF
# Month by month: line -> {month: amount}; the same figures as above.
expected_json='{"0": {"1": 1234.5, "2": 2000, "12": 1500},
 "1": {"1": 800, "3": 650.25},
 "7": {"1": 600, "2": 900},
 "8": {"1": 100},
 "14": {"1": 450, "2": 450, "12": 300},
 "20": {"1": 75.5},
 "32": {"6": 19.99}}'

# xvfb-run can hand over before the server takes connections; wait until it answers.
for _ in $(seq 1 100); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool getdisplaygeometry >/dev/null 2>&1 || fail "the virtual display $DISPLAY never answered"

"$program" >"$work/program.log" 2>&1 &
pid=$!

# The main window, by its caption.
main_window=
for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || { cat "$work/program.log" >&2; fail "the program ended at start"; }
    main_window=$(xdotool search --onlyvisible --name '^Corvantis$' 2>/dev/null | head -1)
    [[ -n "$main_window" ]] && break
    sleep 0.2
done
[[ -n "$main_window" ]] || fail "no visible window captioned Corvantis within 20 s"
sleep 1
if xdotool search --onlyvisible --name 'Application Error' >/dev/null 2>&1; then
    fail "the program reported an error at start"
fi
[[ $(xdotool search --onlyvisible --name '^Corvantis$' | wc -l) -eq 1 ]] || fail "more than one window at start"

# "Start Creating Template": 120,120,13920,400 twips, so x 8..936, y 8..34 in the window.
xdotool mousemove --window "$main_window" 470 20 click 1 || fail "xdotool could not click the window"

workbook=
for _ in $(seq 1 150); do
    kill -0 "$pid" 2>/dev/null || { cat "$work/program.log" >&2; fail "the program ended during generation"; }
    workbook=$(find "$TEMP" -maxdepth 1 -name 'tolvek*.xls' | head -1)
    [[ -n "$workbook" ]] && break
    sleep 0.2
done
[[ -n "$workbook" ]] || fail "no tolvek*.xls appeared in TEMP within 30 s"

# The generation is over once the preview stands alone and the other scratch files are gone.
preview=
for _ in $(seq 1 150); do
    if xdotool search --onlyvisible --name 'Application Error' >/dev/null 2>&1; then
        fail "the program reported an error during generation"
    fi
    windows=$(xdotool search --onlyvisible --name '^Corvantis$' 2>/dev/null)
    if [[ $(echo "$windows" | grep -c .) -eq 1 && "$windows" != "$main_window" \
          && ! -e "$TEMP/temp.bmp" && ! -e "$TEMP/template.xlt" ]]; then
        preview=$windows
        break
    fi
    sleep 0.2
done
[[ -n "$preview" ]] || fail "the preview window did not replace the main window within 30 s"
name=$(basename "$workbook")
[[ "$name" =~ ^tolvek[1-9]{8}\.xls$ ]] || fail "unexpected scratch name $name"
[[ $(find "$TEMP" -mindepth 1 | wc -l) -eq 1 ]] || fail "TEMP holds more than the workbook: $(ls -A "$TEMP")"

# Every total, result and percentage, as Gnumeric computes them afresh.
ssconvert --recalc -T Gnumeric_stf:stf_assistant -O 'format=raw separator=; charset=UTF-8' \
    "$workbook" "$work/sheet.txt" >"$work/ssconvert.log" 2>&1 \
    || { cat "$work/ssconvert.log" >&2; fail "ssconvert could not read $name"; }

COMPANY=$company EXPECTED=$expected_json "$python" - "$work/sheet.txt" <<'PY' || fail "the workbook does not hold the projection of the seeded figures"
import csv, datetime, json, os, sys

rows = list(csv.reader(open(sys.argv[1], encoding="utf-8"), delimiter=";"))
origin = None
for r, row in enumerate(rows):
    for c, text in enumerate(row):
        if text == "Revenue (Sales)":
            origin = (5 - r, 2 - c)
if origin is None:
    sys.exit("no 'Revenue (Sales)' heading in the sheet")

def text(row, col):
    r, c = row - origin[0], col - origin[1]
    return rows[r][c] if 0 <= r < len(rows) and 0 <= c < len(rows[r]) else ""

problems = []
def number(row, col, want, what):
    try:
        got = float(text(row, col))
    except ValueError:
        got = None
    if got is None or abs(got - want) > 1e-6 * max(1.0, abs(want)):
        problems.append("%s at row %d col %d: got %r, expected %r" % (what, row, col, text(row, col), want))
def share(row, col, part, whole, what):
    if whole == 0:
        if text(row, col) != "-":
            problems.append("%s at row %d col %d: got %r, expected '-'" % (what, row, col, text(row, col)))
    else:
        number(row, col, part * 100.0 / whole, what)

seeded = json.loads(os.environ["EXPECTED"])
amount = [[0.0] * 12 for _ in range(33)]
for line, months in seeded.items():
    for month, value in months.items():
        amount[int(line)][int(month) - 1] = float(value)
row_of = lambda i: i + 6 if i <= 6 else (i + 9 if i <= 13 else i + 14)

if text(2, 11) != os.environ["COMPANY"]:
    problems.append("K2 is %r" % text(2, 11))
for m in range(13):                       # 12 months, then the year in AB
    col = 2 * (m + 1) + 2 if m < 12 else 28
    a = [line[m] if m < 12 else sum(line) for line in amount]
    revenue, cost, expenses = sum(a[0:7]), sum(a[7:14]), sum(a[14:33])
    for i in range(33):
        number(row_of(i), col, a[i], "amount")
        share(row_of(i), col + 1, a[i], revenue if i <= 6 or i >= 14 else a[i - 7], "share")
    number(13, col, revenue, "total revenue")
    number(13, col + 1, sum(x * 100.0 / revenue for x in a[0:7]) if revenue else 0.0, "total revenue share")
    number(23, col, cost, "total cost of sales")
    share(23, col + 1, cost, revenue, "cost of sales share")
    number(25, col, revenue - cost, "gross profit")
    share(25, col + 1, revenue - cost, revenue, "gross profit share")
    number(47, col, expenses, "total expenses")
    share(47, col + 1, expenses, revenue, "expenses share")
    number(49, col, revenue - cost - expenses, "net profit")
    share(49, col + 1, revenue - cost - expenses, revenue, "net profit share")
# Month 1 carries the stored fiscal start; the dates are spreadsheet serials.
start = datetime.date(2025, 11, 15)
number(4, 4, (start - datetime.date(1899, 12, 30)).days, "fiscal start in D4")
number(4, 6, (datetime.date(2025, 12, 1) - datetime.date(1899, 12, 30)).days, "month 2 in F4")
number(4, 8, (datetime.date(2026, 1, 1) - datetime.date(1899, 12, 30)).days, "month 3 in H4")
if problems:
    print("%d wrong cells:" % len(problems), file=sys.stderr)
    for p in problems[:15]:
        print("  " + p, file=sys.stderr)
    sys.exit(1)
PY

# Close the preview as the window manager's close button does (WM_DELETE_WINDOW); there is no
# window manager on the virtual display to turn Alt+F4 into that.
"$python" - "$preview" <<'PY' || fail "could not ask the preview window to close"
import ctypes, os, sys

x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]

class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class XEvent(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

display = x.XOpenDisplay(None)
if not display:
    sys.exit("no display")
window = int(sys.argv[1])
event = XEvent()
event.xclient.type = 33                   # ClientMessage
event.xclient.window = window
event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.xclient.format = 32
event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
event.xclient.data[1] = 0                 # CurrentTime
if not x.XSendEvent(display, window, 0, 0, ctypes.byref(event)):
    sys.exit("XSendEvent failed")
x.XFlush(display)
x.XCloseDisplay(display)
PY

for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
if kill -0 "$pid" 2>/dev/null; then
    fail "the program still runs 10 s after its preview window was closed"
fi
wait "$pid"
status=$?
pid=
[[ $status -eq 0 ]] || { cat "$work/program.log" >&2; fail "the program ended with status $status"; }
[[ ! -e "$workbook" ]] || fail "the scratch workbook $name is still there after the close"
[[ -z "$(ls -A "$TEMP")" ]] || fail "TEMP is not empty after the close: $(ls -A "$TEMP")"

echo "PASSED: generated $name for \"$company\" ($lang), totals and percentages right, program ended cleanly"
