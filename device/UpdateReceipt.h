#pragma once

// How sure the host can be of the pages of the last firmware update. A page is only known to be
// written when the tap's acknowledgement repeats its index; an acknowledgement that carries a
// code alone could be a late or repeated answer to another page, and a tap that answers nothing
// tells nothing. Front ends word an update by these counts, never by its success alone.
struct UpdateReceipt
{
    int pages = 0;  // pages the image was sent in
    int acknowledgedWithIndex = 0;  // answered by a frame repeating the page's index
    int acknowledgedWithoutIndex = 0;  // answered by a code that cannot be tied to the page
    int sentUnanswered = 0;  // sent to a tap that answers nothing
    int passes = 0;  // times the pages went out: more than one after strays were heard
    int unexpectedFrames = 0;  // strays and surplus answers heard while the pages went out

    // Every page acknowledged by a frame that can only be the tap's answer to that page.
    bool verifiedByEcho() const { return pages > 0 && acknowledgedWithIndex == pages; }
    bool operator==(const UpdateReceipt &) const = default;
};
