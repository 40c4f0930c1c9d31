#pragma once
// The JIS and EUC-JP to Shift_JIS routines as they were before their fast
// paths, kept as the plain references those are compared with.

#include "decode/kanji_converter.h"

namespace wp::kanji_test {

// The same contract as CKanjiConverter::JisToSjis.
int ReferenceJisToSjis(KanjiConvState& st);
// The same contract as CKanjiConverter::EucToSjis.
int ReferenceEucToSjis(KanjiConvState& st);

}  // namespace wp::kanji_test
