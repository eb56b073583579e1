// What vr7 gives up while one of its threads may still be inside it: a run whose reply
// waiter outlived its bound, a side-by-side job still blocked after Ctrl+C, a descriptor
// that a transfer may still poll. Freeing such a thing under that thread would be a use
// after free, and closing the descriptor would let its number be reused under the poll;
// so it is never released by vr7 but kept, reachable, until the process ends and the
// system releases it all at once. This is the one place that rule is applied.
#ifndef VR7_KEPTTOPROCESSEND_H
#define VR7_KEPTTOPROCESSEND_H

#include <memory>
#include <mutex>
#include <vector>

class KeptToProcessEnd {
public:
    template <class T, class Deleter>
    static void Keep(std::unique_ptr<T, Deleter> owner)
    {
        Add(owner.release());
    }
    // A descriptor is kept by never closing it; it is noted here so that the rule stands in one place.
    static void KeepDescriptor(int fd) { Add(nullptr, fd); }

private:
    static void Add(const void* thing, int fd = -1)
    {
        // Never destroyed: a thread may still reach what is kept while the process ends.
        static std::mutex* const mutex = new std::mutex;
        static std::vector<const void*>* const things = new std::vector<const void*>;
        static std::vector<int>* const descriptors = new std::vector<int>;
        const std::lock_guard<std::mutex> lock(*mutex);
        if (thing != nullptr)
            things->push_back(thing);
        if (fd >= 0)
            descriptors->push_back(fd);
    }
};

#endif
