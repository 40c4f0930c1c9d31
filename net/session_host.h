#pragma once
// What the POP3 session needs of the main frame while a multi-line reply
// arrives: where LIST and UIDL go, where TOP and RETR are captured, and the
// progress and viewer hooks. The frame implements it; tests use their own.

#include <cstddef>
#include <string>

namespace wp {

class SessionHost {
public:
    virtual ~SessionHost() = default;

    // The temporary list file of the current mailbox cache (its list path
    // with "_" appended); empty when there is none.
    virtual std::string ResponseFilePath() = 0;
    // Appends a chunk to the capture memory file of the current cache.
    virtual void AppendCapture(const char* data, std::size_t length) = 0;
    // A chunk of a TOP or RETR reply arrived (for the progress dialog).
    virtual void ProgressAddBytes(int count) = 0;
    // A RETR starts: the viewer clears its text.
    virtual void ClearViewerText() = 0;
    // A chunk of a RETR reply, and the bytes received so far.
    virtual void AppendViewerText(const char* data, std::size_t length, int bytesReceived) = 0;
};

}  // namespace wp
