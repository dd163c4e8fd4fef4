#!/usr/bin/env python3
"""check_wheel.py WHEEL COMMAND: the wheel as an installer reads it.

Its name is NAME-VERSION-py3-none-PLATFORM.whl; WHEEL names exactly the
tags of the file name (a compressed tag set expanded) and is not pure;
METADATA names the project and version; RECORD lists every other file once
with its right SHA-256 and size; the one program is COMMAND in the scripts
folder, executable. Exits 1 with the reason otherwise.
"""
import base64
import email.parser
import hashlib
import sys
import zipfile


def fail(reason):
    sys.exit(f"FAIL {sys.argv[1]}: {reason}")


def main():
    path, command = sys.argv[1], sys.argv[2]
    name = path.rsplit("/", 1)[-1]
    parts = name[:-len(".whl")].split("-")
    if not name.endswith(".whl") or len(parts) != 5:
        fail("not NAME-VERSION-PYTHON-ABI-PLATFORM.whl")
    dist, version, python, abi, platforms = parts
    tags = sorted(f"{python}-{abi}-{platform}" for platform in platforms.split("."))
    info = f"{dist}-{version}.dist-info"
    with zipfile.ZipFile(path) as whl:
        names = whl.namelist()
        if len(names) != len(set(names)):
            fail("a file is in it twice")
        wheel = email.parser.Parser().parsestr(whl.read(f"{info}/WHEEL").decode())
        if sorted(wheel.get_all("Tag")) != tags:
            fail(f"WHEEL's tags {wheel.get_all('Tag')} are not the file name's {tags}")
        if wheel["Root-Is-Purelib"] != "false" or wheel["Wheel-Version"] != "1.0":
            fail("WHEEL is not a version 1.0 platform wheel")
        metadata = email.parser.Parser().parsestr(whl.read(f"{info}/METADATA").decode())
        if metadata["Name"].replace("-", "_") != dist or metadata["Version"] != version:
            fail(f"METADATA names {metadata['Name']} {metadata['Version']}")
        record = {}
        for line in whl.read(f"{info}/RECORD").decode().splitlines():
            file, digest, size = line.rsplit(",", 2)
            record[file] = (digest, size)
        if sorted(record) != sorted(names):
            fail(f"RECORD lists {sorted(record)}, the wheel holds {sorted(names)}")
        for file in names:
            if file == f"{info}/RECORD":
                continue
            data = whl.read(file)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            if record[file] != (f"sha256={digest}", str(len(data))):
                fail(f"RECORD's hash or size of {file} is wrong")
        programs = [f for f in names if not f.startswith(info + "/")]
        if programs != [f"{dist}-{version}.data/scripts/{command}"]:
            fail(f"it holds {programs}, not the one program {command}")
        if not (whl.getinfo(programs[0]).external_attr >> 16) & 0o100:
            fail(f"{command} is not executable")


if __name__ == "__main__":
    main()
