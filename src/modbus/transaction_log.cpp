#include "modbus/transaction_log.h"

#include <cstring>
#include <type_traits>

#include "modbus/request.h"

namespace modbus {

static_assert(std::is_trivially_copyable_v<TransactionRecord>);

bool TransactionRecord::isWrite() const {
    return functionCode == kWriteSingleCoil || functionCode == kWriteSingleRegister ||
           functionCode == kWriteMultipleCoils || functionCode == kWriteMultipleRegisters;
}

namespace {

constexpr std::size_t kWords = (sizeof(TransactionRecord) + 7) / 8;

// One record as atomic words: readers may copy a slot while a writer fills
// it, which is only defined behaviour when every access is atomic.
struct Slot {
    // 0 never written; 2 s + 1 while record s is written; 2 s + 2 when done.
    std::atomic<std::uint64_t> version{0};
    std::array<std::atomic<std::uint64_t>, kWords> words{};
};

}  // namespace

struct TransactionLog::Ring {
    explicit Ring(std::size_t capacity) : slots(capacity) {}

    std::vector<Slot> slots;
    std::atomic<std::uint64_t> head{0};  // the next sequence to give out

    // Stores the record under the ring's next sequence number; `renumber`
    // gives the record that number too.
    std::uint64_t put(TransactionRecord record, bool renumber) noexcept {
        const std::uint64_t s = head.fetch_add(1, std::memory_order_relaxed);
        if (renumber) record.sequence = s;
        std::array<std::uint64_t, kWords> raw{};
        std::memcpy(raw.data(), &record, sizeof record);
        Slot& slot = slots[s % slots.size()];
        slot.version.store(2 * s + 1, std::memory_order_relaxed);
        // Each data word is a release store, so a reader that sees it also
        // sees the odd version when it checks the version after its copy.
        // (No fences: ThreadSanitizer cannot follow them.)
        for (std::size_t i = 0; i < kWords; ++i)
            slot.words[i].store(raw[i], std::memory_order_release);
        slot.version.store(2 * s + 2, std::memory_order_release);
        return s;
    }

    enum class Read { ok, pending, lost };

    Read get(std::uint64_t s, TransactionRecord& out) const {
        const Slot& slot = slots[s % slots.size()];
        const std::uint64_t before = slot.version.load(std::memory_order_acquire);
        if (before < 2 * s + 2) return Read::pending;
        if (before != 2 * s + 2) return Read::lost;
        std::array<std::uint64_t, kWords> raw{};
        // Acquire loads keep the version check below after the copy.
        for (std::size_t i = 0; i < kWords; ++i)
            raw[i] = slot.words[i].load(std::memory_order_acquire);
        if (slot.version.load(std::memory_order_relaxed) != before) return Read::lost;
        std::memcpy(static_cast<void*>(&out), raw.data(), sizeof out);
        return Read::ok;
    }

    std::optional<TransactionRecord> latest() const {
        const std::uint64_t end = head.load(std::memory_order_acquire);
        // The newest finished record; a slot still being written is passed
        // over for the one before it.
        for (std::uint64_t s = end; s > 0 && end - s < slots.size(); --s) {
            TransactionRecord r;
            if (get(s - 1, r) == Read::ok) return r;
        }
        return std::nullopt;
    }
};

TransactionLog::TransactionLog()
    : all_(std::make_unique<Ring>(kCapacity)), errors_(std::make_unique<Ring>(kErrorCapacity)) {}

TransactionLog::~TransactionLog() = default;

void TransactionLog::onTransaction(const TransactionRecord& record) noexcept {
    const std::uint64_t s = all_->put(record, true);
    if (record.failed()) {
        // Under the main ring's number, for a reader that looks it up there.
        TransactionRecord copy = record;
        copy.sequence = s;
        errors_->put(copy, false);
    }
}

std::uint64_t TransactionLog::written() const {
    return all_->head.load(std::memory_order_acquire);
}

std::uint64_t TransactionLog::readSince(std::uint64_t from,
                                        std::vector<TransactionRecord>& out) const {
    const std::uint64_t end = all_->head.load(std::memory_order_acquire);
    std::uint64_t s = from;
    if (end > kCapacity && s < end - kCapacity) s = end - kCapacity;
    for (; s < end; ++s) {
        TransactionRecord r;
        const Ring::Read got = all_->get(s, r);
        if (got == Ring::Read::pending) break;
        if (got == Ring::Read::ok) out.push_back(r);
    }
    return s;
}

std::optional<TransactionRecord> TransactionLog::latest() const {
    return all_->latest();
}

std::optional<TransactionRecord> TransactionLog::lastError() const {
    return errors_->latest();
}

}  // namespace modbus
