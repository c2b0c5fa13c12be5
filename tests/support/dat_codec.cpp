#include "support/dat_codec.h"

#include <stdexcept>
#include <utility>

std::string dat::scramble(std::string bytes, uint64_t at) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ key(at + i));
    return bytes;
}

dat::RecordFields dat::fieldsOf(int type, size_t nameLength) {
    RecordFields f;
    f.offset = f.name + nameLength;
    f.size = f.offset + 4;
    if (type == fileType) {
        f.flag = f.size + 4;
        f.count = f.end = f.flag + 1;  // files have no count
    } else {
        f.count = f.size + 4;
        f.flag = f.count + 4;
        f.end = f.flag + 1;
    }
    return f;
}

namespace {

const std::string magic = "tolva";

void put8(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
}
void put16(std::string& out, uint32_t v) {
    put8(out, v);
    put8(out, v >> 8);
}
void put32(std::string& out, uint32_t v) {
    put16(out, v);
    put16(out, v >> 16);
}

uint32_t bytesBelow(const std::vector<Node>& list) {
    uint32_t n = 0;
    for (const Node& e : list) n += static_cast<uint32_t>(e.data.size()) + bytesBelow(e.child);
    return n;
}

void putRecord(std::string& toc, const Node& e, uint32_t offset, uint32_t size) {
    put8(toc, static_cast<uint32_t>(e.type));
    put16(toc, static_cast<uint32_t>(e.name.size()));
    toc += e.name;
    if (e.type == dat::fileType) {
        put32(toc, offset);
        put32(toc, size);
        put8(toc, e.scrambled);
    } else if (e.type == dat::dirType) {
        put32(toc, offset);
        put32(toc, size);
        put32(toc, static_cast<uint32_t>(e.child.size()) << 8);
        put8(toc, 0);
    }
}

// Appends the plain records of list to toc and the stored bytes of its
// files to data, which starts at absolute offset dataStart (0: not known yet).
void layOut(const std::vector<Node>& list, std::string& toc, std::string& data, uint64_t dataStart) {
    for (const Node& e : list) {
        const auto at = static_cast<uint32_t>(data.size());
        if (e.type == dat::fileType) {
            putRecord(toc, e, at, static_cast<uint32_t>(e.data.size()));
            data += e.scrambled ? dat::scramble(e.data, dataStart + at) : e.data;
        } else {
            putRecord(toc, e, at, bytesBelow(e.child));
            layOut(e.child, toc, data, dataStart);
        }
    }
}

std::string plainToc(const std::vector<Node>& top, std::string& data, uint64_t dataStart) {
    std::string toc;
    putRecord(toc, dirNode("", top), 0, bytesBelow(top));
    layOut(top, toc, data, dataStart);
    return toc;
}

}  // namespace

std::vector<uint8_t> tocBlock(const std::vector<Node>& top) {
    std::string data;
    const std::string toc = plainToc(top, data, 0);
    return {toc.begin(), toc.end()};
}

std::string archiveBytes(const std::vector<Node>& top) {
    std::string data;
    const std::string head = magic + plainToc(top, data, 0);
    data.clear();
    plainToc(top, data, head.size());  // again, now that the data's start is known
    return dat::scramble(head, 0) + data;
}

namespace {

struct Reader {
    const std::string& archive;
    std::string toc;  // plain, from absolute offset 5 to the data region
    Reader(const std::string& a, std::string t) : archive(a), toc(std::move(t)) {}
    size_t at = 0;  // in toc
    uint64_t dataStart = 0;
    uint32_t dataEnd = 0;  // data offset just past the last file seen
    Unpacked u;

    uint32_t get(size_t width) {
        if (toc.size() - at < width) throw std::runtime_error("record runs past the TOC");
        uint32_t v = 0;
        for (size_t i = 0; i < width; ++i) v |= uint32_t(static_cast<uint8_t>(toc[at + i])) << (8 * i);
        at += width;
        return v;
    }

    UnpackedRecord record() {
        UnpackedRecord r;
        r.at = magic.size() + at;
        r.type = static_cast<int>(get(1));
        const uint32_t length = get(2);
        if (toc.size() - at < length) throw std::runtime_error("name runs past the TOC");
        r.name = toc.substr(at, length);
        at += length;
        if (r.type != dat::fileType && r.type != dat::dirType)
            throw std::runtime_error("record of type " + std::to_string(r.type));
        r.offset = get(4);
        r.size = get(4);
        if (r.type == dat::fileType) {
            r.scrambled = static_cast<uint8_t>(get(1));
        } else {
            const uint32_t field = get(4);
            if (field & 0xFF) throw std::runtime_error("child count field's low byte is not 0");
            r.count = field >> 8;
            if (get(1) != 0) throw std::runtime_error("directory flag is not 0");
        }
        return r;
    }

    // Reads the records of a directory whose subtree starts at data offset
    // `offset` and holds `size` bytes.
    void children(uint32_t count, uint32_t offset, uint32_t size, const std::string& prefix) {
        if (offset != dataEnd)
            throw std::runtime_error("directory " + prefix + " has offset " + std::to_string(offset));
        for (uint32_t i = 0; i < count; ++i) {
            UnpackedRecord r = record();
            const std::string path = prefix + r.name;
            u.records.push_back(r);
            u.paths.push_back(path);
            if (r.type == dat::dirType) {
                u.tree[path] = "<dir>";
                children(r.count, r.offset, r.size, path + "/");
                continue;
            }
            if (r.offset != dataEnd) throw std::runtime_error("gap or overlap at " + path);
            const uint64_t from = dataStart + r.offset;
            if (from + r.size > archive.size()) throw std::runtime_error("data of " + path + " past the end");
            const std::string stored = archive.substr(from, r.size);
            u.tree[path] = r.scrambled ? dat::scramble(stored, from) : stored;
            dataEnd += r.size;
        }
        if (dataEnd - offset != size)
            throw std::runtime_error("directory " + prefix + " has size " + std::to_string(size));
    }
};

}  // namespace

Unpacked unpack(const std::string& archive) {
    if (archive.size() < 21 || dat::scramble(archive.substr(0, 5), 0) != magic)
        throw std::runtime_error("no archive header");
    Reader rd(archive, dat::scramble(archive.substr(5, 16), 5));
    rd.u.root = rd.record();
    if (rd.u.root.type != dat::dirType || !rd.u.root.name.empty()) throw std::runtime_error("root record");
    if (rd.u.root.size > archive.size() - 21) throw std::runtime_error("root size too large");
    rd.dataStart = archive.size() - rd.u.root.size;
    rd.toc = dat::scramble(archive.substr(5, rd.dataStart - 5), 5);
    rd.children(rd.u.root.count, rd.u.root.offset, rd.u.root.size, "");
    if (rd.at != rd.toc.size()) throw std::runtime_error("records do not end where the data begins");
    return rd.u;
}
