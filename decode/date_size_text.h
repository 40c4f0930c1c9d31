#pragma once
// How dates and sizes are written for the user: the date and size columns of
// the server list, the viewer's size field and the two status-bar texts.
// Every text is CP932; decimals always use a point, whatever the locale.

#include <cstdint>
#include <string>
#include <string_view>

namespace wp {

// Turns a raw Date value into "yyyy/mm/dd hh:mm:ss zone" in place; a value
// that does not parse keeps only its leading blanks removed.
void FormatDateText(std::string& value);

// Size column of the list: right-aligned in ten characters.
std::string SizeColumnText(std::uint32_t size);

// The viewer's size field for a mail about to be fetched: "1023byte", "1.0Kbyte" ...
std::string MailSizeText(std::uint32_t size);

inline constexpr int kReceiveSteps = 13;

struct ReceivedSizeView {
    std::string text;  // "1.0KB/12.3Kbyte"
    int position = 0;  // of the viewer's bar, 0 .. kReceiveSteps
};

// One step of the viewer's receive progress. currentText is what the size
// field shows now; received is cut to size.
ReceivedSizeView ReceivedSizeText(std::uint32_t received, std::uint32_t size, std::string_view currentText);

// The size of a selection as the list sends it with UM_SELECTIONINFO: the
// unit (0 bytes, 1 K, 2 M, 3 G) in the high 16 bits, the byte count or the
// tenths of the unit in the low 16 bits.
std::uint32_t SelectionSizeCode(std::uint32_t totalBytes);

// The selection pane: empty for no selection, else "%d件のﾒｰﾙを選択" and the size.
std::string SelectionStatusText(int count, std::uint32_t sizeCode);

// The count pane while listing: "%d/%d件中", "%d件", or empty when both are 0.
std::string ProgressStatusText(int done, int total);

}  // namespace wp
