#include "client/action_boxes.h"

#include "client/message_box.h"

#include <fstream>

namespace checks {
namespace {

// Fields and records apart by control characters that no box text holds.
constexpr char kFieldEnd = '\x1f';
constexpr char kRecordEnd = '\x1e';

}  // namespace

void RecordActionBoxes(const std::string& path, int questionAnswer)
{
    SetActionMessageBoxForChecks([path, questionAnswer](HWND owner, const std::string& text,
                                                        const std::string& title, unsigned style) {
        std::ofstream(path, std::ios::binary | std::ios::app)
            << reinterpret_cast<unsigned long long>(owner) << kFieldEnd << title << kFieldEnd << style << kFieldEnd
            << text << kRecordEnd;
        return (style & 0xF) == MB_YESNO ? questionAnswer : IDOK;
    });
}

std::vector<RecordedBox> ReadRecordedBoxes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<RecordedBox> boxes;
    size_t start = 0;
    for (size_t end; (end = all.find(kRecordEnd, start)) != std::string::npos; start = end + 1) {
        const std::string record = all.substr(start, end - start);
        const size_t a = record.find(kFieldEnd);
        const size_t b = record.find(kFieldEnd, a + 1);
        const size_t c = record.find(kFieldEnd, b + 1);
        RecordedBox box;
        box.owner = std::stoull(record.substr(0, a));
        box.title = record.substr(a + 1, b - a - 1);
        box.style = static_cast<unsigned>(std::stoul(record.substr(b + 1, c - b - 1)));
        box.text = record.substr(c + 1);
        boxes.push_back(box);
    }
    return boxes;
}

}  // namespace checks
