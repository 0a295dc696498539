#!/usr/bin/env python3
"""Writes the seed corpora below fuzz/corpus/<target>/.

    make_corpus.py <build folder with demo/*.app>

The demo installers' product.json and payload-manifest.json (and the
Huecraft payload archive) are taken from the build; every other seed is
written here, except the few minimized inputs kept from longer fuzzing runs
(campaign-*), which are left as they are. Run it again after the demo
payloads change, then commit what changed.
"""
import io
import json
import os
import plistlib
import stat
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
DIGEST = "6eab25a8fbb9f53b6b2043dff1dc3d818e1100de3a94f9c97521b6b7b6ce3a71"


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def products(build):
    for app in ("Huecraft", "Geoweave"):
        resources = os.path.join(build, "demo", app + ".app", "Contents", "Resources")
        with open(os.path.join(resources, "product.json"), "rb") as f:
            put("product", app.lower() + ".json", f.read())
        with open(os.path.join(resources, "payload-manifest.json"), "rb") as f:
            put("manifest", app.lower() + ".json", f.read())
    with open(os.path.join(build, "demo", "Huecraft.app", "Contents", "Resources", "payload.zip"), "rb") as f:
        put("ditto", "huecraft-payload.zip", f.read())
    base = {"id": "geoweave", "name": "Geoweave", "version": "2.4.1", "payloadRoot": "Geoweave-Payload",
            "payloadSHA256": DIGEST, "message": "Willkommen – ü"}
    put("product", "compact.json", json.dumps(base, separators=(",", ":"), ensure_ascii=False))
    put("product", "extra-member.json", json.dumps(dict(base, extra=[1, {"a": None}])))
    put("product", "version-number.json", json.dumps(dict(base, version=2.4)))
    put("product", "message-null.json", json.dumps(dict(base, message=None)))
    put("product", "empty-values.json", json.dumps({k: "" for k in base}))
    put("product", "escapes.json", '{"id":"h\\u0075ecraft","name":"\\ud83d\\ude00","version":"1\\u0000",'
        '"payloadRoot":"a\\/b","payloadSHA256":"","message":"\\t\\n"}')
    put("product", "empty-object.json", "{}")
    put("product", "array.json", '["id","huecraft"]')
    put("product", "truncated.json", json.dumps(base)[:40])


def manifests():
    sha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"
    put("manifest", "empty.json", '{"files":{},"symlinks":{}}')
    put("manifest", "links.json", json.dumps({"files": {"a/b.txt": {"sha256": sha, "size": 0}},
                                              "symlinks": {"a/link": "b.txt", "abs": "/etc/passwd"}}))
    put("manifest", "sizes.json", '{"files":{"a":{"sha256":"x","size":1e3},"b":{"sha256":"y","size":'
        '18446744073709551615},"c":{"sha256":"z","size":-0}},"symlinks":{}}')
    put("manifest", "size-bad.json", '{"files":{"a":{"sha256":"x","size":1.5}},"symlinks":{}}')
    put("manifest", "size-negative.json", '{"files":{"a":{"sha256":"x","size":-1}},"symlinks":{}}')
    put("manifest", "size-huge.json", '{"files":{"a":{"sha256":"x","size":18446744073709551616}},"symlinks":{}}')
    put("manifest", "duplicate.json", '{"files":{"a":{"sha256":"x","size":1},"a":{"sha256":"y","size":2}},'
        '"symlinks":{},"symlinks":{"l":"t"}}')
    put("manifest", "extra-members.json", '{"x":[1,[2,{"files":3}]],"files":{"a":{"SHA256":"x","sha256":"y",'
        '"size":3,"note":{"k":[]}}},"symlinks":{"l":"t"},"y":null}')
    put("manifest", "no-symlinks.json", '{"files":{}}')
    put("manifest", "nfd.json", json.dumps({"files": {"Mu\u0308ller.txt": {"sha256": sha, "size": 7}},
                                            "symlinks": {"M\u00fcller": "Mu\u0308ller.txt"}}, ensure_ascii=False))


def settings():
    put("settings_merge", "empty.json", "{}")
    put("settings_merge", "user.json", json.dumps({"use_ai": False, "strength": 0.3, "favourite": "teal",
                                                   "recent": ["a", "b"], "window": {"w": 800, "h": 600}}))
    put("settings_merge", "managed.json", json.dumps({"engine_dir": "/old", "python": 3, "lut_dir": "~/LUTs",
                                                      "node_index": None, "mode": "color"}, indent=2))
    put("settings_merge", "lut-relative.json", '{"lut_dir":"LUTs"}')
    put("settings_merge", "lut-number.json", '{"lut_dir":42,"method":"banded"}')
    put("settings_merge", "lut-tilde.json", '{"lut_dir":"~//Volumes/x","a":"\\u00fc"}')
    put("settings_merge", "numbers.json", '{"i":-9223372036854775808,"u":18446744073709551615,"f":1.5e-300,'
        '"g":-0.0,"h":1E+2,"z":0}')
    put("settings_merge", "big-integer.json", '{"n":123456789012345678901234567890}')
    put("settings_merge", "duplicate.json", '{"use_ai":true,"use_ai":null,"k":1,"k":[2]}')
    put("settings_merge", "nested.json", '{"a":' + "[" * 40 + "]" * 40 + ',"b":{"c":{"d":{}}}}')
    put("settings_merge", "array.json", "[1,2,3]")
    put("settings_merge", "invalid.json", '{"a":1,}')


def agents():
    def agent(arguments, **extra):
        return dict({"Label": "de.geoweave.ofxpath", "ProgramArguments": arguments, "RunAtLoad": True}, **extra)

    good = agent(["/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", "/x:/y"])
    samples = {
        "good": good,
        "long": agent(["/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", "~/OFX:/Volumes/Fx/OFX", "extra"]),
        "other-variable": agent(["/bin/launchctl", "setenv", "PATH", "/x"]),
        "three": agent(["/bin/launchctl", "setenv", "OFX_PLUGIN_PATH"]),
        "not-strings": agent(["/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", 7]),
        "unicode": agent(["", "setenv", "OFX_PLUGIN_PATH", "/Volumes/Müller/OFX <&>"]),
        "no-arguments": {"Label": "de.geoweave.ofxpath"},
    }
    for name, value in samples.items():
        put("agent_file", name + ".xml.plist", plistlib.dumps(value, fmt=plistlib.FMT_XML))
        put("agent_file", name + ".bin.plist", plistlib.dumps(value, fmt=plistlib.FMT_BINARY))
    put("agent_file", "array.bin.plist", plistlib.dumps(["setenv", b"\x00\x01", 1.5, {"k": [True]}],
                                                        fmt=plistlib.FMT_BINARY))
    put("agent_file", "truncated.xml.plist", plistlib.dumps(good, fmt=plistlib.FMT_XML)[:120])


def zip_bytes(members, compression=zipfile.ZIP_DEFLATED):
    """members: (name, data or None for a folder, st_mode)."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, data, mode in members:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
            info.create_system = 3
            info.external_attr = (mode & 0xFFFF) << 16
            if stat.S_ISDIR(mode):
                info.external_attr |= 0x10
            info.compress_type = compression
            archive.writestr(info, data if data is not None else b"")
    return buffer.getvalue()


def zips():
    d, f, l = stat.S_IFDIR | 0o755, stat.S_IFREG | 0o644, stat.S_IFLNK | 0o777
    put("ditto", "tree.zip", zip_bytes([("P/", None, d), ("P/a.txt", b"alpha\n", f),
                                        ("P/bin/run", b"#!/bin/sh\n", stat.S_IFREG | 0o755),
                                        ("P/link", b"a.txt", l), ("P/abs", b"/etc", l)]))
    put("ditto", "stored.zip", zip_bytes([("a", b"x" * 100, f), ("b/c/d", b"", f)], zipfile.ZIP_STORED))
    put("ditto", "bzip2.zip", zip_bytes([("z", b"\0" * 4000, f)], zipfile.ZIP_BZIP2))
    put("ditto", "lzma.zip", zip_bytes([("z", b"abc" * 300, f)], zipfile.ZIP_LZMA))
    put("ditto", "escape-link.zip", zip_bytes([("out", b"../canary", l), ("out/keep.txt", b"x", f)]))
    put("ditto", "dotdot.zip", zip_bytes([("a/../../canary.txt", b"x", f)]))
    put("ditto", "absolute.zip", zip_bytes([("/tmp/kb-fuzz-absolute", b"x", f)]))
    put("ditto", "duplicate.zip", zip_bytes([("a", b"1", f), ("./a", b"2", f)]))
    put("ditto", "special.zip", zip_bytes([("fifo", b"", stat.S_IFIFO | 0o644), ("dev", b"", stat.S_IFCHR | 0o644)]))
    put("ditto", "setid.zip", zip_bytes([("s", b"x", stat.S_IFREG | 0o7755), ("t/", None, stat.S_IFDIR | 0o1777)]))
    put("ditto", "link-then-file.zip", zip_bytes([("d", b".", l), ("d/e", b"x", f)]))
    put("ditto", "unicode.zip", zip_bytes([("Müller/ü.txt", b"u", f)]))
    put("ditto", "empty.zip", zip_bytes([]))
    put("ditto", "dot-slash.zip", zip_bytes([("./", None, d), ("x//y/./z", b"q", f)]))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    # Inputs kept from longer fuzzing runs ("campaign-*") stay.
    for folder, _, files in os.walk(CORPUS):
        for name in files:
            if not name.startswith("campaign-"):
                os.remove(os.path.join(folder, name))
    products(sys.argv[1])
    manifests()
    settings()
    agents()
    zips()


if __name__ == "__main__":
    main()
