#!/usr/bin/env python3
"""Reads a PE32 or PE32+ file and checks that what its code calls through the
import tables can be called: every import and delay-import descriptor is
complete, and every slot that a call or jump through memory reads is either
filled by the loader (an ordinary import) or holds, in the file, an address in
the image's code, with a relocation where the image can be moved.

Usage: pecheck.py FILE...   prints each finding; exit code 1 when any.
"""
import struct
import sys

IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMPORTS, RESOURCES, RELOCATIONS, DELAY_IMPORTS = 1, 2, 5, 13


class Image:
    """The headers, sections and data directories of a PE file; ValueError
    when it is not one or a header lies outside the file."""

    def __init__(self, data):
        self.data = data
        try:
            pe = self.u32(0x3C)
            if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
                raise ValueError("not a PE file")
            self.machine, count = struct.unpack_from("<HH", data, pe + 4)
            self.characteristics = self.u16(pe + 22)
            optional = pe + 24
            self.magic = self.u16(optional)
            if self.magic not in (0x10B, 0x20B):
                raise ValueError("optional header magic 0x%x" % self.magic)
            self.wide = self.magic == 0x20B  # PE32+: 8-byte slots, RIP-relative operands
            self.base = self.u64(optional + 24) if self.wide else self.u32(optional + 28)
            self.subsystem = self.u16(optional + 68)
            directories = optional + (112 if self.wide else 96)
            self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                                for i in range(min(self.u32(directories - 4), 16))]
            self.directories += [(0, 0)] * (16 - len(self.directories))
            table = optional + self.u16(pe + 20)
            # (name, virtual address, virtual size, raw offset, raw size, flags)
            self.sections = []
            for i in range(count):
                name, vsize, va, rsize, roffset = struct.unpack_from("<8sIIII", data, table + 40 * i)
                flags = self.u32(table + 40 * i + 36)
                self.sections.append((name.rstrip(b"\0").decode("latin-1"), va, vsize, roffset,
                                      rsize, flags))
        except struct.error:
            raise ValueError("headers cut short") from None

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def u64(self, at):
        return struct.unpack_from("<Q", self.data, at)[0]

    def slot(self, rva):
        offset = self.offset(rva)
        return self.u64(offset) if self.wide else self.u32(offset)

    def section(self, rva):
        for section in self.sections:
            if section[1] <= rva < section[1] + max(section[2], section[4]):
                return section
        return None

    def offset(self, rva):
        """File offset of rva; ValueError when no section's file data holds it."""
        section = self.section(rva)
        if section is None or rva - section[1] >= section[4]:
            raise ValueError("RVA 0x%x in no section's data" % rva)
        return section[3] + rva - section[1]

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start, start + 512)
        if end < 0:
            raise ValueError("name at RVA 0x%x not terminated" % rva)
        return self.data[start:end].decode("latin-1")

    def in_code(self, rva):
        section = self.section(rva)
        return section is not None and bool(section[5] & IMAGE_SCN_MEM_EXECUTE)

    def relocated(self):
        """RVAs of the fixed-up fields, or None when the image cannot move."""
        if self.characteristics & IMAGE_FILE_RELOCS_STRIPPED or not self.directories[RELOCATIONS][0]:
            return None
        fields, (rva, size) = set(), self.directories[RELOCATIONS]
        at, end = self.offset(rva), self.offset(rva) + size
        while at + 8 <= end:
            page, block = struct.unpack_from("<II", self.data, at)
            if block < 8:
                break
            for i in range((block - 8) // 2):
                entry = self.u16(at + 8 + 2 * i)
                if entry >> 12 in (3, 10):  # HIGHLOW, DIR64
                    fields.add(page + (entry & 0xFFF))
            at += block
        return fields

    def thunks(self, rva):
        """The zero-terminated slot table at rva, as (rva, value) pairs."""
        width, out = 8 if self.wide else 4, []
        while True:
            value = self.slot(rva)
            if not value:
                return out
            out.append((rva, value))
            rva += width

    def dlls(self):
        """Names of the imported and the delay-imported DLLs."""
        return ([name for name, _ in self.imports()] +
                [name for name, _ in self.delay_imports()])

    def descriptors(self, directory, size):
        rva = self.directories[directory][0]
        while rva:
            fields = self.data[self.offset(rva):self.offset(rva) + size]
            if len(fields) < size or not any(fields):
                return
            yield rva, fields
            rva += size

    def imports(self):
        """(DLL name, descriptor fields) of each ordinary import descriptor."""
        for _, fields in self.descriptors(IMPORTS, 20):
            names, _, _, name, addresses = struct.unpack("<IIIII", fields)
            yield (self.string(name) if name else ""), (names, name, addresses)

    def delay_imports(self):
        for _, fields in self.descriptors(DELAY_IMPORTS, 32):
            attributes, name, handle, addresses, names = struct.unpack_from("<IIIII", fields)
            yield (self.string(name) if name else ""), (attributes, name, handle, addresses, names)


def memory_calls(image):
    """(instruction RVA, slot RVA) of every call or jump through an absolute
    (PE32) or RIP-relative (PE32+) memory operand in the code sections. On
    PE32 an operand counts only where a relocation fixes it up, if the image
    has relocations: bytes that merely look like the instruction do not."""
    relocated = None if image.wide else image.relocated()
    for _, va, vsize, roffset, rsize, flags in image.sections:
        if not flags & IMAGE_SCN_MEM_EXECUTE:
            continue
        code = image.data[roffset:roffset + min(vsize or rsize, rsize)]
        at = code.find(b"\xff")
        while 0 <= at < len(code) - 5:
            if code[at + 1] in (0x15, 0x25):  # call/jmp dword|qword [operand]
                operand = struct.unpack_from("<i" if image.wide else "<I", code, at + 2)[0]
                if image.wide:
                    yield va + at, va + at + 6 + operand
                elif relocated is None or va + at + 2 in relocated:
                    yield va + at, operand - image.base
            at = code.find(b"\xff", at + 1)


def check(data):
    """Every finding about the file, as text; empty when it passes."""
    try:
        image = Image(data)
        findings, loader_filled, delayed = [], set(), {}
        width = 8 if image.wide else 4
        for dll, (names, name, addresses) in image.imports():
            if not (name and names and addresses):
                findings.append("import descriptor of %r lacks its name, name table or address "
                                "table" % dll)
                continue
            entries, slots = image.thunks(names), image.thunks(addresses)
            if len(entries) != len(slots):
                findings.append("%s: %d names, %d address slots" % (dll, len(entries), len(slots)))
            for _, value in entries:
                if not value >> (63 if image.wide else 31):  # by name, not by ordinal
                    image.string(value + 2)
            loader_filled.update(addresses + width * i for i in range(len(entries)))
        relocated = image.relocated()
        for dll, (attributes, name, handle, addresses, names) in image.delay_imports():
            if not (attributes & 1 and name and handle and addresses and names):
                findings.append("delay-import descriptor of %r lacks its name, module handle, "
                                "address table or name table (or is not RVA-based)" % dll)
                continue
            count = len(image.thunks(names))
            for i in range(count):
                delayed[addresses + width * i] = dll
        import_sections = {image.section(rva)[0] for rva in loader_filled | set(delayed)}
        import_sections.add(".idata")
        for call, slot in memory_calls(image):
            if slot in loader_filled:
                continue
            where = "call at RVA 0x%x through the slot at RVA 0x%x" % (call, slot)
            if slot in delayed:
                target = image.slot(slot) - image.base
                if not image.in_code(target):
                    findings.append("%s (%s, delayed) holds 0x%x, not an address in the code"
                                    % (where, delayed[slot], image.slot(slot)))
                elif relocated is not None and slot not in relocated:
                    findings.append("%s (%s, delayed) has no relocation" % (where, delayed[slot]))
            elif image.section(slot) and image.section(slot)[0] in import_sections:
                findings.append("%s: an import table that no descriptor declares (holds 0x%x)"
                                % (where, image.slot(slot)))
        return sorted(set(findings))
    except (ValueError, struct.error) as error:
        return ["unreadable: %s" % error]


def main():
    failed = False
    for path in sys.argv[1:]:
        with open(path, "rb") as f:
            findings = check(f.read())
        for finding in findings:
            print("%s: %s" % (path, finding))
        failed |= bool(findings)
    return 1 if failed or len(sys.argv) < 2 else 0


if __name__ == "__main__":
    sys.exit(main())
