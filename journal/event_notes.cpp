#include "journal/event_notes.h"

namespace journal {

uint32_t AddNote(EventNotes* notes, const EventNote& note) {
    if (notes->count == UINT32_MAX || !Grow(&notes->notes, notes->count, &notes->capacity, 8))
        return 0;
    notes->notes[notes->count] = note;
    return ++notes->count;
}

void ReleaseNotes(EventNotes* notes) {
    delete[] notes->notes;
    *notes = EventNotes{nullptr, 0, 0};
}

ScreenPicture* NextPicture(PictureStore* store) {
    uint32_t block = store->count / kPicturesPerBlock;
    if (block == store->blockCount) {
        // The list of blocks grows by powers of two: one pointer a block, so its copies are small.
        bool power = (block & (block - 1)) == 0;
        if (power) {
            ScreenPicture** grown = new (std::nothrow) ScreenPicture*[block ? block * 2 : 1];
            if (!grown)
                return nullptr;
            if (block)
                memcpy(grown, store->blocks, block * sizeof(ScreenPicture*));
            delete[] store->blocks;
            store->blocks = grown;
        }
        store->blocks[block] = new (std::nothrow) ScreenPicture[kPicturesPerBlock];
        if (!store->blocks[block])
            return nullptr;
        store->blockCount++;
    }
    return &store->blocks[block][store->count % kPicturesPerBlock];
}

uint32_t KeepPicture(PictureStore* store) {
    return ++store->count;
}

const ScreenPicture& PictureOf(const PictureStore& store, uint32_t number) {
    uint32_t index = number - 1;
    return store.blocks[index / kPicturesPerBlock][index % kPicturesPerBlock];
}

void ReleasePictures(PictureStore* store) {
    for (uint32_t i = 0; i < store->blockCount; i++)
        delete[] store->blocks[i];
    delete[] store->blocks;
    *store = PictureStore{nullptr, 0, 0};
}

}  // namespace journal
