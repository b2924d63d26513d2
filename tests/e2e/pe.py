"""A reader for the few parts of a PE file that the bench checks: the headers,
the imported DLLs and the resources. Every offset is checked against the file
before it is read; a malformed file raises PeError.
"""
import struct

RT_MANIFEST = 24

MACHINE_I386 = 0x14C
MAGIC_PE32 = 0x10B
SUBSYSTEM_GUI = 2


class PeError(Exception):
    pass


class PeFile:
    def __init__(self, data):
        self.data = data
        if self._u16(0) != 0x5A4D:
            raise PeError("no MZ header")
        pe = self._u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        coff = pe + 4
        self.machine = self._u16(coff)
        sections = self._u16(coff + 2)
        optional_size = self._u16(coff + 16)
        optional = coff + 20
        self.magic = self._u16(optional)
        if self.magic != MAGIC_PE32:
            # Only PE32 is read further; the caller checks the magic.
            self.subsystem, self._directories, self.sections = None, [], []
            return
        self.subsystem = self._u16(optional + 68)
        count = min(self._u32(optional + 92), 16)
        if 96 + 8 * count > optional_size:
            raise PeError("data directories beyond the optional header")
        self._directories = [struct.unpack_from("<II", self._need(optional + 96 + 8 * i, 8))
                             for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            header = self._need(table + 40 * i, 40)
            name = header[:8].rstrip(b"\0").decode("latin-1")
            virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", header, 8)
            self.sections.append((name, virtual_address, max(virtual_size, raw_size), raw_offset, raw_size))

    # ------------------------------------------------------------ reading

    def _need(self, offset, size):
        if offset < 0 or size < 0 or offset + size > len(self.data):
            raise PeError("read of %d bytes at 0x%x beyond the file" % (size, offset))
        return self.data[offset:offset + size]

    def _u16(self, offset):
        return struct.unpack("<H", self._need(offset, 2))[0]

    def _u32(self, offset):
        return struct.unpack("<I", self._need(offset, 4))[0]

    def offset(self, rva):
        for _, address, size, raw_offset, raw_size in self.sections:
            if address <= rva < address + size:
                delta = rva - address
                if delta >= raw_size:
                    raise PeError("RVA 0x%x lies in uninitialised data" % rva)
                return raw_offset + delta
        raise PeError("RVA 0x%x in no section" % rva)

    def _string(self, rva, limit=512):
        start = self.offset(rva)
        end = self.data.find(b"\0", start, start + limit)
        if end < 0:
            raise PeError("unterminated string at RVA 0x%x" % rva)
        return self.data[start:end].decode("latin-1")

    def directory(self, index):
        return self._directories[index] if index < len(self._directories) else (0, 0)

    # ------------------------------------------------------------ imports

    def imported_dlls(self):
        """Names of every DLL imported directly or with delayed loading."""
        names = []
        rva, size = self.directory(1)
        if rva:
            at = self.offset(rva)
            for _ in range(4096):
                descriptor = struct.unpack_from("<IIIII", self._need(at, 20))
                if descriptor == (0, 0, 0, 0, 0):
                    break
                names.append(self._string(descriptor[3]))
                at += 20
            else:
                raise PeError("import table without an end")
        rva, size = self.directory(13)
        if rva:
            at = self.offset(rva)
            for _ in range(4096):
                descriptor = struct.unpack_from("<8I", self._need(at, 32))
                if descriptor[1] == 0:
                    break
                names.append(self._string(descriptor[1]))
                at += 32
        return names

    # ------------------------------------------------------------ resources

    def resources(self, resource_type):
        """The data of every resource of one numeric type."""
        rva, _ = self.directory(2)
        if not rva:
            return []
        root = self.offset(rva)
        found = []

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self._need(directory + 12, 4))
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self._need(directory + 16 + 8 * i, 8))
                yield name, target

        def walk(directory, depth):
            if depth > 3:
                raise PeError("resource tree too deep")
            for _, target in entries(directory):
                if target & 0x80000000:
                    walk(root + (target & 0x7FFFFFFF), depth + 1)
                else:
                    data_rva, size = struct.unpack_from("<II", self._need(root + target, 8))
                    found.append(self._need(self.offset(data_rva), size))

        for name, target in entries(root):
            if name == resource_type and target & 0x80000000:
                walk(root + (target & 0x7FFFFFFF), 1)
        return found


def read(path):
    with open(path, "rb") as f:
        return PeFile(f.read())
