#!/usr/bin/env python3
"""Writes the seed corpora of the plug-in fuzz targets: tests/fuzz/make_seeds.py

A stream script is records ended by RS (0x1E) with fields ended by US (0x1F); ESC (0x1B) makes
the next byte literal (see CallScript.h). The first record sets up; each other record is one
call: clock step ["*" repeat], action (a digit names CONFIG, CYCLE, GET, POST, PUT, HEAD,
SESSION_END, LOCKED, UNLOCKED), then the fields after the action in Stream order.
"""
from pathlib import Path

HERE = Path(__file__).resolve().parent
RS, US, ESC = b"\x1e", b"\x1f", b"\x1b"
FIELDS = ["serial", "key", "country", "resolved", "remote", "remote_host", "auth", "path",
          "translated", "query", "server", "port", "agent", "link", "unlink", "locked",
          "local_host", "referrer"]
CONFIG, CYCLE, GET, POST, HEAD, SESSION_END, LOCKED, UNLOCKED = "0", "1", "2", "3", "5", "6", "7", "8"


def escaped(value):
    data = value.encode("latin-1") if isinstance(value, str) else value
    out = bytearray()
    for byte in data:
        if byte in (0x1B, 0x1E, 0x1F):
            out += ESC
        out.append(byte)
    return bytes(out)


def call(action, step="0", **values):
    fields = [escaped(step), escaped(action)]
    fields += [escaped(values.get(name, "")) for name in FIELDS]
    return US.join(fields)


def script(setup, calls):
    return RS.join([escaped(setup)] + calls)


def request(key, serial, path, step="1", action=GET, **more):
    values = dict(serial=serial, key=key, remote="10.0.0." + str(len(key)), server="shop",
                  port="80", agent="Mozilla/4.0 (compatible; MSIE 6.0)", locked="0", path=path)
    values.update(more)
    return call(action, step, **values)


def serial(seconds, milliseconds=0):
    """The arrival serial of 5 March 2004 14:00:00 plus some time."""
    return "4030514%02d%02d%03d" % (seconds // 60, seconds % 60, milliseconds)


DEFINITIONS = "\r\n".join([
    "<TRIPWIRES>",
    '<TRIPWIRE ACTIVE="True" DESCRIPTION="Script probes" HOST="" RESOURCE="/scripts/*.*" '
    'DEFLECT="/sorry/*.htm" SENSITIVITY="5" STRENGTH="3" INVERSE="False" CARRYPARAMETERS="False" />',
    '<TRIPWIRE ACTIVE="True" DESCRIPTION="Admin" HOST="shop" RESOURCE="/*/admin.asp" '
    'DEFLECT="/sorry/page.*" SENSITIVITY="2" STRENGTH="2.5" INVERSE="False" CARRYPARAMETERS="True" />'
    '<TRIPWIRE ACTIVE="1" HOST="shop" RESOURCE="/scripts/ok.exe" DEFLECT="" SENSITIVITY="0" '
    'STRENGTH="0" INVERSE="True" CARRYPARAMETERS="0" />',
    '<TRIPWIRE ACTIVE="False" RESOURCE="/old/*" />',
    '<TRIPWIRE ACTIVE="True" DESCRIPTION="Files" HOST="" RESOURCE="C:\\site\\private\\*.*" '
    'DEFLECT="C:\\deflect\\*.htm" SENSITIVITY="0" STRENGTH="0" INVERSE="False" CARRYPARAMETERS="False" />',
    '<TRIPWIRE ACTIVE="True" DESCRIPTION="Dirs" HOST="" RESOURCE="/dir/*.*" DEFLECT="*.htm" '
    'SENSITIVITY="1" STRENGTH="1" INVERSE="False" CARRYPARAMETERS="False" />',
    "</TRIPWIRES>", ""])
SHIELD_SETTINGS = "127.0.0.1;/flowdeck;/filter;A=1;R=1;0.9;0.1;10;2;False;;{trace}"
MONITOR_SETTINGS = "127.0.0.1;;;;;0.9;0.1;10;1;{active};{path};2;1;3;{trace}"
HOSTILE_AGENT = 'x" LCKD="True" <&>\r\n^|~\x01\xff\xe2\x82\xac'


def vantrel_stream():
    paced = [call(CONFIG, agent=SHIELD_SETTINGS.format(trace="False"))]
    paced += [request("bot", serial(s), "/scripts/run.exe") for s in range(0, 24, 2)]
    paced += [call(CYCLE), call(CYCLE, "400")]
    traced = [call(CONFIG, agent=SHIELD_SETTINGS.format(trace="True")),
              request("a", serial(1), "/dir/", action=HEAD),
              request("a", serial(2), "/", translated="C:\\site\\private\\x.htm"),
              request("a", serial(3), "/shop/admin.asp", server="SHOP"),
                            request("a", serial(4), "/scripts/ok.exe")]
    traced += [request("a", serial(s), "/dir/x.htm") for s in range(5, 25, 2)]
    traced += [call(CYCLE)]
    broken = [call(CONFIG, agent="127.0.0.1;a;b;c;d;0.9;0.1;10;2;True"),
              call(CONFIG, agent="127.0.0.1;;;;;0.9;0.1;100;10000;False;;False"),
              request("b", "not a number", "/scripts/x.exe"),
              request("b", serial(1), "/scripts/x.exe", step="0*5"),
              call(CYCLE), call("CYCLE ", "1"), call("get")]
    hostile = [call(CONFIG, agent=SHIELD_SETTINGS.format(trace="False"))]
    hostile += [request("h", serial(s), '/scripts/a"&<b>.exe', remote=HOSTILE_AGENT,
                        resolved="\xff\xfe") for s in range(0, 12)]
    hostile += [call(CYCLE), request("h", serial(13), "/scripts/a.exe"), call(CYCLE)]
    extremes = [call(CONFIG, agent=SHIELD_SETTINGS.format(trace="True"))]
    extremes += [request("e", value, "/scripts/e.exe") for value in
                 ("1e300", "-1e300", "99999999999999999999", "0", "-1", "0.5", "991231235959999",
                  "1E-300", " 42 ", "+7", "40305140000000")]
    extremes += [call(CYCLE), call(CYCLE, "99999")]
    return {"paced": script(DEFINITIONS, paced), "extremes": script(DEFINITIONS, extremes), "traced": script(DEFINITIONS, traced),
            "broken": script(DEFINITIONS, broken), "hostile": script(DEFINITIONS, hostile)}


def corvane_stream():
    export = MONITOR_SETTINGS.format(active="True", path="", trace="False")
    visits = [call(CONFIG, agent=export)]
    visits += [request("bot", serial(s), "/a", query="id=%d" % s) for s in range(0, 20)]
    visits += [request("human", serial(s * 3 + s % 2), "/b") for s in range(0, 8)]
    visits += [call(LOCKED, remote="10.0.0.3", locked="1"),
               request("bot", serial(40), "/a", action=SESSION_END),
               call(CYCLE, "5"), request("bot", serial(50), "/c", locked="2"),
               call(UNLOCKED, remote="10.0.0.3", locked="1"), call(CYCLE, "20"),
               call(CYCLE, "400")]
    capped = [call(CONFIG, agent=MONITOR_SETTINGS.format(active="True", path="x", trace="False")),
              request("full", serial(1), "/a", step="0*510"),
              request("full", serial(0), "/b"), call(CYCLE)]
    hostile = [call(CONFIG, agent=MONITOR_SETTINGS.format(active="True", path="", trace="True")),
               request("k\"<&", serial(1), "/p\r\n\"&", agent=HOSTILE_AGENT,
                       query='a"b&c', country="\xe9", locked="999"),
               request("K\"<&", serial(0), "/p", agent="^|~#", locked="-1e9"),
               request("all", serial(2), "/q", agent="^|~", country="#"),
               call(CYCLE), call(CONFIG, agent=MONITOR_SETTINGS.format(
                   active="True", path="\x02", trace="False")),
               request("m", serial(3), "/m"), call(CYCLE)]
    broken = [call(CONFIG, agent="1;2;3;4;5;0.9;0.1;10;1;True"),
              request("a", "12e", "/a"), request("b", "", "/a"),
              call(CONFIG, agent="127.0.0.1;;;;;0.9;0.1;100;1000;False;;2;1;3;False"),
              request("c", serial(1), "/a"), call(CYCLE)]
    extremes = [call(CONFIG, agent=MONITOR_SETTINGS.format(active="True", path="", trace="False"))]
    extremes += [request("e", value, "/e") for value in
                 ("1e300", "-1e300", "99999999999999999999", "0", "-1", "0.5", "991231235959999",
                  "1E-300", " 42 ", "+7")]
    extremes += [call(CYCLE), call(CYCLE, "99999"), request("e", "5", "/e", locked="1e300"),
                 call(CYCLE)]
    return {"visits": script("", visits), "capped": script("", capped),
            "extremes": script("", extremes),
            "hostile": script("", hostile), "broken": script("", broken)}


def definitions():
    return {
        "mixed": DEFINITIONS.encode("latin-1"),
        "duplicate": b'<TRIPWIRE ACTIVE="True" RESOURCE="/a/*.*" HOST="" DEFLECT="" SENSITIVITY="1" '
                     b'STRENGTH="3.5" INVERSE="False" CARRYPARAMETERS="False" />\n'
                     b'<TRIPWIRE ACTIVE="True" RESOURCE="/A/*.*" HOST="x" DEFLECT="" SENSITIVITY="1" '
                     b'STRENGTH="1" INVERSE="False" CARRYPARAMETERS="False" />\n',
        "unended": b'x<TRIPWIRE ACTIVE="True" RESOURCE="/a"\n<TRIPWIRE \n',
        "range": b'<TRIPWIRE ACTIVE="-1" RESOURCE="" HOST="" SENSITIVITY="40000" STRENGTH="1" '
                 b'INVERSE="0" CARRYPARAMETERS="0" />',
        "masks": b'<TRIPWIRE ACTIVE="True" HOST="shop" RESOURCE="/*/x.tar.gz" SENSITIVITY="1" '
                 b'STRENGTH="1" INVERSE="False" CARRYPARAMETERS="False" /><TRIPWIRE ACTIVE="True" '
                 b'HOST="" RESOURCE="/dir/" SENSITIVITY="1" STRENGTH="1" INVERSE="True" '
                 b'CARRYPARAMETERS="False" /><TRIPWIRE ACTIVE="True" HOST="" RESOURCE="*" '
                 b'SENSITIVITY="1" STRENGTH="1" INVERSE="False" CARRYPARAMETERS="False" />\r\n',
    }


def tripwire_carryover():
    line = ('\t\t<TRIPWIRE DATETIME="03/05/2004 02:00:00 PM" REMOTEADDR="10.0.0.1" RESOLVEDADDR="a" '
            'HOST="shop" HITS="12" FACTOR="1" RESOURCE="/scripts/run.exe" DEFLECT="/sorry/*.htm" '
            'SENSITIVITY="5" STRENGTH="3" DESCRIPTION="Script probes" INVERSE="0" CARRYPARAMETERS="0" />')
    head = '<?xml version="1.0"?>\r\n<KELVARIN>\r\n\t<TRIPWIRES>\r\n'
    tail = '\t</TRIPWIRES>\r\n</KELVARIN>\r\n'
    return {
        "three": (head + (line + "\r\n") * 3 + tail).encode("latin-1"),
        "foreign": ("junk\r\n<TRIPWIRES>\r\n" + line + "\n<TRIPWIRE\r\n" + line).encode("latin-1"),
        "hostile": ('<TRIPWIRE A="&"/>\r\n<TRIPWIRE B="\xff" />\r\n<x><TRIPWIRE C="1"></x>\r\n'
                    '<TRIPWIRE D="\r"/>\r\r\n').encode("latin-1"),
        "empty": b"",
    }


def main():
    for target, seeds in (("vantrel_stream", vantrel_stream()), ("corvane_stream", corvane_stream()),
                          ("definitions", definitions()),
                          ("tripwire_carryover", tripwire_carryover())):
        folder = HERE / "corpus" / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
