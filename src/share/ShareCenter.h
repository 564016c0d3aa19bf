#pragma once

// Shares shelves with phones and PCs: one share session per shared shelf.
//
// This version shares nothing yet; the shelf manager already reports closes and changes to it.

#include <QObject>
#include <QUuid>

namespace vyo {

class Shelf;

class ShareCenter : public QObject
{
    Q_OBJECT
public:
    static ShareCenter &shared();

    // Ends the share of the shelf, if it is shared.
    void stopSharing(const QUuid &shelfId);
    // Sends a shared shelf's new listing to its connected devices; nothing for other shelves.
    void shelfChanged(Shelf *shelf);
    bool isSharing(const QUuid &shelfId) const;
};

} // namespace vyo
