// SPDX-License-Identifier: MIT
// Which of a reader's outputs reaches the host: output 0, the one file
// information describes, and only when it is audio. The other streams are
// switched off, so that the reader does not decode them at all (a file with
// video would otherwise hand the host its video frames as PCM).
#pragma once

#include "wmsdk.h"

namespace mervane {

// S_OK when output 0 of the open reader is audio; NS_E_INVALID_INPUT_FORMAT
// when it is not, or the reader's failure to say.
HRESULT CheckOutputZeroIsAudio(wm::IWMReader* reader);

// Switches off, through manual stream selection, every stream of the open
// file that is not audio. Best effort: where the reader cannot, it decodes
// them, and the host still receives output 0 alone.
void SwitchOffOtherStreams(wm::IWMReader* reader, wm::IWMReaderAdvanced* advanced);

}  // namespace mervane
