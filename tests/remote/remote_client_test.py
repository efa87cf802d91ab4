#!/usr/bin/env python3
"""Drives the generator's XML-RPC interface with Python's own client.

Usage: remote_client_test.py <ovremote_test_server executable>
"""
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import xmlrpc.client

SERVER = None
CAPTURE = tempfile.TemporaryDirectory()


def start_server():
    env = dict(os.environ, ORVANE_SIM_CAPTURE=CAPTURE.name)
    proc = subprocess.Popen([SERVER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, env=env)
    line = proc.stdout.readline()
    gateware = proc.stdout.readline()
    if not line.startswith("PORT ") or not gateware.startswith("GATEWARE "):
        proc.kill()
        raise RuntimeError("server did not start: %r" % line)
    return proc, int(line.split()[1]), gateware[len("GATEWARE "):].rstrip("\n")


class GeneratorOverXmlRpc(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.proc, cls.port, cls.gateware = start_server()

    @classmethod
    def tearDownClass(cls):
        cls.proc.stdin.close()
        cls.proc.wait(timeout=10)

    def proxy(self):
        return xmlrpc.client.ServerProxy("http://127.0.0.1:%d/RPC2" % self.port)

    def test_introspection(self):
        p = self.proxy()
        self.assertEqual(p.system.listMethods(), [
            "GetGenOptions", "GetOrvVersion", "MMCAlias", "PatternOption", "ReadEdid",
            "RescanFormats", "SetAlias", "SetGen", "system.listMethods", "system.methodHelp",
            "system.multicall"])
        self.assertEqual(p.system.methodHelp("SetGen"),
                         'Generate a Named pattern or set generator parameters.  Pattern can be by '
                         'string, or by structure {Pattern:"name", ...}')
        self.assertEqual(p.system.methodHelp("GetOrvVersion"), p.system.methodHelp("GetGenOptions"))
        with self.assertRaises(xmlrpc.client.Fault) as f:
            p.foo()
        self.assertEqual(f.exception.faultCode, -1)
        self.assertEqual(f.exception.faultString, "foo: unknown method name")

    def test_setgen(self):
        p = self.proxy()
        a = p.SetGen("TestBars")
        b = p.SetGen({"Pattern": "TestBars", "Steps": 8, "Level": 0.5})
        c = p.SetGen({"Steps": 3})
        self.assertIsInstance(a, int)
        self.assertEqual([b, c], [a + 1, a + 2], "consecutive transaction ids")
        self.assertEqual(p.SetGen(), "bad parameters")
        self.assertEqual(p.SetGen(7), -1)
        with self.assertRaises(xmlrpc.client.Fault) as f:
            p.SetGen({"Log": 5})
        self.assertEqual(f.exception.faultString, "type error")

    def test_pattern_options(self):
        p = self.proxy()
        listing = p.PatternOption()
        self.assertEqual(listing["TestBars"], "$Revision: 1.14 $")
        self.assertEqual(listing["Plain"], "$Revision: 2.0 $")
        opts = p.PatternOption("TestBars")
        self.assertEqual([o["Name"] for o in opts], ["Steps", "Level"])
        for o in opts:
            self.assertTrue(all(isinstance(v, str) for v in o.values()), o)
        self.assertEqual(p.PatternOption({"Pattern": "TestBars"}), opts)
        self.assertEqual(p.PatternOption("NoSuch"), "error")

    def test_gen_options(self):
        gen = self.proxy().GetGenOptions()
        self.assertEqual(len(gen), 14)
        for s in gen:
            self.assertIsInstance(s, dict)
            self.assertTrue(all(isinstance(v, str) for v in s.values()), s)
        for key in ("GatingColor_Red", "GateRed", "OutputTitling", "VideoMute", "VideoFormat"):
            self.assertIn(key, gen[12])

    def test_aliases(self):
        p = self.proxy()
        self.assertEqual(p.SetAlias({"AliasName": "py/a", "Pattern": "TestBars", "Steps": 2}), "py/a")
        self.assertEqual(p.SetAlias({"AliasName": "x" * 100, "Pattern": "TestBars"}), "x" * 80)
        self.assertEqual(p.SetAlias({"Pattern": "TestBars"}), "no name for alias")
        self.assertEqual(p.PatternOption()["py/a"], "Alias/TestBars")
        self.assertIsInstance(p.SetGen("py/a"), int)
        self.assertEqual(p.MMCAlias({"Prefix": "py", "Path": "flush"}), "flushed py/ aliases")
        self.assertNotIn("py/a", p.PatternOption())
        self.assertEqual(p.MMCAlias({"Prefix": "", "Path": "flush"}), "invalid arguments")
        self.assertEqual(p.MMCAlias("flush"), "flushed mmc aliases")
        with tempfile.TemporaryDirectory() as d:
            self.assertEqual(p.MMCAlias(d), "")
            self.assertEqual(p.MMCAlias({"Prefix": "py", "Path": d}), "")

    def test_version_edid_rescan(self):
        p = self.proxy()
        self.assertTrue(self.gateware)
        self.assertEqual(p.GetOrvVersion(), [{"Software": "317", "Gateware": self.gateware,
                                              "OS": "Windows [Unknown]",
                                              "Application": "Application-Version"}])
        edid = p.ReadEdid()
        self.assertIsInstance(edid, xmlrpc.client.Binary)
        self.assertEqual(edid.data, bytes([4, 3, 2, 1]))
        self.assertEqual(p.RescanFormats(), "Ok")

    def captured(self):
        try:
            with open(os.path.join(CAPTURE.name, "kona-out.json")) as f:
                desc = json.load(f)
            with open(os.path.join(CAPTURE.name, "kona-out.raw"), "rb") as f:
                return desc, f.read()
        except (OSError, ValueError):
            return {"sequence": 0}, b""

    def test_setgen_reaches_the_board(self):
        p = self.proxy()
        before = self.captured()[0]["sequence"]
        p.SetGen({"Pattern": "Colorbars", "Style": "fullfield"})

        # Frames of earlier requests may still arrive first: wait for bars.
        # First v210 word of the grey bar: Cr0 << 20 | Y0 << 10 | Cb0, and 75%
        # grey is Y 721 with neutral chroma 512 through the Rec709 matrix.
        def first_word(raw):
            w = struct.unpack_from("<I", raw, 0)[0] if len(raw) >= 4 else 0
            return ((w >> 20) & 0x3FF, (w >> 10) & 0x3FF, w & 0x3FF)

        deadline = time.monotonic() + 10
        desc, raw = self.captured()
        while (desc["sequence"] <= before or first_word(raw) != (512, 721, 512)) \
                and time.monotonic() < deadline:
            time.sleep(0.02)
            desc, raw = self.captured()
        self.assertGreater(desc["sequence"], before)
        self.assertEqual((desc["width"], desc["height"], desc["layout"]), (1920, 1080, "v210"))
        self.assertEqual(len(raw), desc["rowBytes"] * desc["height"])
        self.assertEqual(first_word(raw), (512, 721, 512))
        # The last bar (blue) at the end of the first row is darker.
        last = struct.unpack_from("<I", raw, desc["rowBytes"] - 16)[0]
        self.assertLess((last >> 10) & 0x3FF, 721)

    def test_multicall(self):
        p = self.proxy()
        m = xmlrpc.client.MultiCall(p)
        m.SetGen("TestBars")
        m.SetGen("TestBars")
        m.RescanFormats()
        m.foo()
        results = m()
        first, second, ok = results[0], results[1], results[2]
        self.assertEqual(second, first + 1)
        self.assertEqual(ok, "Ok")
        with self.assertRaises(xmlrpc.client.Fault) as f:
            results[3]
        self.assertEqual(f.exception.faultString, "foo: unknown method name")

    def test_nil_is_an_absent_value(self):
        """With allow_none the client writes None as <nil/>: a struct member
        holding it is no member, and nils at the end of the parameters are no
        parameters."""
        p = xmlrpc.client.ServerProxy("http://127.0.0.1:%d/RPC2" % self.port, allow_none=True)
        a = p.SetGen({"Pattern": "TestBars", "Steps": 3, "NilNote": "kept", "Gone": None})
        self.assertIsInstance(a, int)
        self.assertNotEqual(a, -1)
        deadline = time.monotonic() + 10
        current = p.GetGenOptions()[-1]
        while current.get("NilNote") != "kept" and time.monotonic() < deadline:
            time.sleep(0.02)
            current = p.GetGenOptions()[-1]
        self.assertEqual(current.get("NilNote"), "kept")
        self.assertNotIn("Gone", current)
        self.assertEqual(p.SetGen(None), "bad parameters")
        self.assertEqual(p.SetGen("TestBars", None), a + 1)
        self.assertEqual(p.PatternOption(None), p.PatternOption())
        self.assertEqual(p.SetAlias({"AliasName": "py/nil", "Pattern": "TestBars", "Steps": None}), "py/nil")
        self.assertEqual(p.PatternOption()["py/nil"], "Alias/TestBars")
        m = xmlrpc.client.MultiCall(p)
        m.SetGen(None)
        m.SetGen("TestBars")
        self.assertEqual(list(m()), ["bad parameters", a + 2])

    def test_answers_stay_well_formed(self):
        """Names and values with control characters or broken UTF-8 never make
        an answer that expat refuses."""
        import http.client
        p = self.proxy()
        self.assertEqual(p.SetAlias({"AliasName": "bell\x07", "Pattern": "TestBars"}), "invalid arguments")
        self.assertEqual(p.SetAlias({"AliasName": "Gr\u00f6\u00dfe", "Pattern": "TestBars"}), "Gr\u00f6\u00dfe")
        self.assertIsInstance(p.SetGen({"Pattern": "TestBars", "Note": "a\x01b"}), int)
        # Bytes that are not UTF-8 cannot come from xmlrpc.client: send them raw.
        body = (b"<?xml version='1.0'?><methodCall><methodName>SetAlias</methodName><params><param><value>"
                b"<struct><member><name>AliasName</name><value>x\xff\xfe</value></member><member><name>"
                b"Pattern</name><value>TestBars</value></member></struct></value></param></params></methodCall>")
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        c.request("POST", "/RPC2", body, {"Content-Type": "text/xml"})
        answer = c.getresponse().read()
        c.close()
        self.assertEqual(xmlrpc.client.loads(answer)[0][0], "invalid arguments")
        listed = p.PatternOption()
        self.assertEqual(listed["Gr\u00f6\u00dfe"], "Alias/TestBars")
        deadline = time.monotonic() + 10
        current = p.GetGenOptions()[-1]
        while "Note" not in current and time.monotonic() < deadline:
            time.sleep(0.02)
            current = p.GetGenOptions()[-1]
        self.assertEqual(current["Note"], "a\ufffdb")

    def test_pipelined_requests(self):
        import socket
        body = xmlrpc.client.dumps(("TestBars",), "SetGen").encode()
        req = (b"POST /RPC2 HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\nContent-length: %d\r\n\r\n"
               % len(body)) + body
        s = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        s.sendall(req + req)
        got = b""
        while got.count(b"</methodResponse>") < 2:
            chunk = s.recv(65536)
            self.assertTrue(chunk, "closed before the second answer")
            got += chunk
        s.close()
        first, second = [xmlrpc.client.loads(part + b"</methodResponse>")[0][0]
                         for part in got.split(b"</methodResponse>")[:2]
                         for part in [part[part.index(b"<?xml"):]]]
        self.assertEqual(second, first + 1)


if __name__ == "__main__":
    SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
