#!/usr/bin/env python3
"""Checks a built kelconv.exe as a file, without running it.

Usage: check_program_file.py PROGRAM i386|x86-64

Checks that PROGRAM is a PE image for the given machine (PE32 for i386, PE32+ for x86-64), of
the GUI subsystem, importing only DLLs that come with Windows, and carrying a version record
in Japanese (language 0x0411) whose fixed part gives file and product version 1.10.0.0.
Prints what it found and exits 1 on the first difference.
"""
import struct
import sys

MACHINES = {"i386": (0x014C, 0x10B), "x86-64": (0x8664, 0x20B)}
GUI_SUBSYSTEM = 2
# DLLs that every Windows installation has; lower case.
WINDOWS_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll",
                "shell32.dll", "ntdll.dll", "version.dll", "ws2_32.dll", "ole32.dll"}
RT_VERSION = 16
JAPANESE = 0x0411
VERSION_1_10 = (0x0001000A, 0)


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, _, optional_size, _) = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic, = struct.unpack_from("<H", data, optional)
        self.subsystem, = struct.unpack_from("<H", data, optional + 68)
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rsize), raddr))

    def offset(self, rva):
        for vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError("address %#x is in no section" % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        rva, size = self.directories[1]
        names = []
        at = self.offset(rva)
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, at)
            if descriptor == (0, 0, 0, 0, 0):
                return names
            names.append(self.c_string(descriptor[3]))
            at += 20

    def resource(self, type_id):
        """[(name, language, bytes)] of the resources of one type."""
        base_rva = self.directories[2][0]
        if base_rva == 0:
            return []
        base = self.offset(base_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data,
                                                   base + directory + 16 + 8 * i)
                yield ident, target

        found = []
        for type_ident, type_target in entries(0):
            if type_ident != type_id or not type_target & 0x80000000:
                continue
            for name, name_target in entries(type_target & 0x7FFFFFFF):
                for language, leaf in entries(name_target & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    found.append((name, language, self.data[start:start + size]))
        return found


def main():
    program, machine = sys.argv[1], sys.argv[2]
    failures = []

    def expect(what, expected, actual):
        print("%-28s %s" % (what + ":", actual))
        if expected != actual:
            failures.append("%s: expected %s, got %s" % (what, expected, actual))

    try:
        with open(program, "rb") as f:
            image = Image(f.read())
    except (OSError, ValueError) as error:
        print("%s: not a readable PE image: %s" % (program, error))
        return 1
    want_machine, want_magic = MACHINES[machine]
    expect("machine", hex(want_machine), hex(image.machine))
    expect("optional header magic", hex(want_magic), hex(image.magic))
    expect("subsystem", GUI_SUBSYSTEM, image.subsystem)
    imports = image.imports()
    foreign = sorted(name for name in imports if name.lower() not in WINDOWS_DLLS)
    print("%-28s %s" % ("imports:", ", ".join(imports)))
    expect("DLLs not of Windows", [], foreign)
    expect("imports kernel32 and user32", True,
           {"kernel32.dll", "user32.dll"} <= {name.lower() for name in imports})
    versions = image.resource(RT_VERSION)
    expect("version records (name, language)", [(1, JAPANESE)],
           [(name, language) for name, language, _ in versions])
    if versions:
        record = versions[0][2]
        fixed = record.find(struct.pack("<I", 0xFEEF04BD))
        expect("fixed version part present", True, fixed >= 0)
        if fixed >= 0:
            (_, _, file_ms, file_ls, product_ms, product_ls) = struct.unpack_from(
                "<IIIIII", record, fixed)
            expect("file version", VERSION_1_10, (file_ms, file_ls))
            expect("product version", VERSION_1_10, (product_ms, product_ls))
    for failure in failures:
        print("FAILED " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
