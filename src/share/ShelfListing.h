#pragma once

// What a shared shelf shows the other device: its name (or title) and its items in shelf order,
// files looked up on disk now (vanished ones left out, folders marked, sizes read).

#include "logic/TransferProtocol.h"

namespace vyo {

class Shelf;

TransferProtocol::Listing shelfListing(const Shelf &shelf);

} // namespace vyo
