// Excel 97-2003 files: the Workbook stream inside a compound file, with the summary and
// CompObj streams Excel writes beside it.
#include "spreadsheet/xls.h"

#include "spreadsheet/biff_stream.h"
#include "spreadsheet/cfb.h"
#include "spreadsheet/error.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace ss::xls {

namespace {

// A property set stream ([MS-OLEPS]) with one section holding only the code page property;
// readers want the streams present and well formed, their contents are optional.
std::vector<std::uint8_t> propertySet(const std::uint8_t (&fmtid)[16])
{
    biff::ByteWriter w;
    w.u16(0xFFFE);
    w.u16(0);
    w.u32(0x00020006);   // written on Windows NT
    w.zeros(16);         // CLSID
    w.u32(1);
    w.bytes(fmtid);
    w.u32(48);           // the section follows this header
    w.u32(24);           // section size
    w.u32(1);
    w.u32(1);            // PID_CODEPAGE
    w.u32(16);
    w.u32(2);            // VT_I2
    w.u16(1252);
    w.u16(0);
    return w.data();
}

void ansi(biff::ByteWriter& w, const char* text)
{
    const std::string s(text);
    w.u32(static_cast<std::uint32_t>(s.size() + 1));
    w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
    w.u8(0);
}

// [MS-OLEDS] 2.3.7: the class of the embedded object, Excel.Sheet.8.
std::vector<std::uint8_t> compObj()
{
    static const std::uint8_t kHeader[28] = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A, 0x00, 0x00, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    biff::ByteWriter w;
    w.bytes(kHeader);
    ansi(w, "Microsoft Excel 2003 Worksheet");
    ansi(w, "Biff8");
    ansi(w, "Excel.Sheet.8");
    w.u32(0x71B239F4);   // Unicode marker; the Unicode names stay empty
    w.u32(0);
    w.u32(0);
    w.u32(0);
    return w.data();
}

// Paths are UTF-8 on every platform.
std::filesystem::path fsPath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

bool startsWithBof(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 4 || bytes[1] > 0x08)
        return false;
    const int type = bytes[0] | bytes[1] << 8;
    return type == 0x0809 || type == 0x0409 || type == 0x0209 || type == 0x0009;
}

bool isWorkbookStream(const std::string& name)
{
    return cfb::find({cfb::Stream{name, {}}}, "Workbook") || cfb::find({cfb::Stream{name, {}}}, "Book");
}

} // namespace

Workbook readFile(std::span<const std::uint8_t> bytes)
{
    // Excel 2-4 saved bare record streams; reading them as one gives the right message.
    if (startsWithBof(bytes))
        return readWorkbookStream(bytes);
    cfb::Contents contents = cfb::readContents(bytes);
    const cfb::Stream* book = cfb::find(contents.streams, "Workbook");
    if (!book)
        book = cfb::find(contents.streams, "Book");   // Excel 5/95; its BOF names the version
    if (!book) {
        // A damaged Workbook stream is the file's damage; other streams' damage is no reason to refuse it.
        for (const auto& [name, why] : contents.damaged)
            if (isWorkbookStream(name))
                throw FormatError(why);
        throw FormatError("not an Excel workbook: the file holds no Workbook stream");
    }
    Workbook wb = readWorkbookStream(book->data);
    for (cfb::Stream& s : contents.streams)
        if (&s != book && !isWorkbookStream(s.name))
            wb.fileStreams.push_back(FileStream{std::move(s.name), std::move(s.data)});
    for (cfb::Storage& s : contents.storages)
        wb.fileStorages.push_back(FileStorage{std::move(s.name), s.clsid});
    return wb;
}

std::vector<std::uint8_t> writeFile(const Workbook& wb)
{
    static const std::uint8_t kSummary[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                              0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    static const std::uint8_t kDocSummary[16] = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                                 0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
    std::vector<cfb::Stream> streams;
    streams.push_back({"Workbook", writeWorkbookStream(wb)});
    // The streams the workbook was read with go back as they were; the standard ones are
    // written only when it had none.
    for (const FileStream& s : wb.fileStreams)
        if (!isWorkbookStream(s.name))
            streams.push_back({s.name, s.data});
    auto add = [&streams](const char* name, std::vector<std::uint8_t> data) {
        if (!cfb::find(streams, name))
            streams.push_back({name, std::move(data)});
    };
    add("\x05SummaryInformation", propertySet(kSummary));
    add("\x05" "DocumentSummaryInformation", propertySet(kDocSummary));
    add("\x01" "CompObj", compObj());
    std::vector<cfb::Storage> storages;
    for (const FileStorage& s : wb.fileStorages)
        storages.push_back({s.name, s.clsid});
    cfb::dropUnwritable(streams, storages);
    return cfb::write(streams, storages);
}

Workbook load(const std::string& path)
{
    std::ifstream in(fsPath(path), std::ios::binary);
    if (!in)
        throw IoError("cannot open " + path);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw IoError("cannot read " + path);
    return readFile(bytes);
}

void save(const Workbook& wb, const std::string& path)
{
    const std::vector<std::uint8_t> bytes = writeFile(wb);
    const std::filesystem::path target = fsPath(path);
    // Written beside the target and renamed over it, so a failed save leaves the old file whole.
    std::filesystem::path temp = target;
    temp += ".tmp" + std::to_string(std::random_device{}() % 1000000);
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            throw IoError("cannot write " + path);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            throw IoError("cannot write " + path);
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        throw IoError("cannot write " + path + ": " + ec.message());
    }
}

} // namespace ss::xls
