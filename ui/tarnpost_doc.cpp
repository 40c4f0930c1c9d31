#include "ui/tarnpost_doc.h"

#include "platform/strings.h"

namespace wp {

void CTarnpostDoc::OnNewDocument() {
    SetTitle(Sjis("レンポスト Ver2.2"));
}

void CTarnpostDoc::SetTitle(std::string title) {
    title_ = std::move(title);
    if (titleChanged) {
        titleChanged();
    }
}

}  // namespace wp
