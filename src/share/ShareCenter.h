#pragma once

// Shares shelves with phones and PCs: one share session per shared shelf.
//
// This version shares nothing yet; it already follows the shelves it will share.

#include <QObject>
#include <QUuid>

namespace vyo {

class Shelf;
class ShelfManager;

class ShareCenter : public QObject
{
    Q_OBJECT
public:
    static ShareCenter &shared();

    // Follows the manager's shelves: a change of a shared shelf is listed again, a closing shelf
    // stops being shared.
    void follow(ShelfManager &manager);

    // Ends the share of the shelf, if it is shared.
    void stopSharing(const QUuid &shelfId);
    // Sends a shared shelf's new listing to its connected devices; nothing for other shelves.
    void shelfChanged(Shelf *shelf);
    bool isSharing(const QUuid &shelfId) const;
};

} // namespace vyo
