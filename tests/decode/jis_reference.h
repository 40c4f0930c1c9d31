#pragma once
// The JIS to Shift_JIS routine as it was before its fast paths, kept as the
// plain byte-by-byte reference they are compared with.

#include "decode/kanji_converter.h"

namespace wp::kanji_test {

// The same contract as CKanjiConverter::JisToSjis.
int ReferenceJisToSjis(KanjiConvState& st);

}  // namespace wp::kanji_test
