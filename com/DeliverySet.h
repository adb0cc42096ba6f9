#pragma once

// The targets an object delivers to, and its deliveries to them. A target may
// call the object while it is being called: add or remove targets, push more
// data, ask for the end of a stream, release the object. So a delivery goes to
// a snapshot of the set, a target removed meanwhile is kept until the delivery
// has gone to all, a call that would deliver waits in a queue until the
// delivery under way ends (what is being delivered is never overwritten, and
// every target sees every delivery once, in order), and an object whose last
// reference went meanwhile ends when the delivery has.
//
//   DeliverySet<CThing, ITarget, &ITarget::OnData, CThing::Call> m_targets;
//   void takeLastReference(LastReference<CThing> self) { m_targets.keepUntilDelivered(std::move(self)); }

#include "com/ComPtr.h"
#include "com/Object.h"

#include <algorithm>
#include <type_traits>
#include <utility>
#include <vector>

namespace kv::com {

// Deliver is Target's method taking (BYTE* data, LONG length); Call names the
// kinds of call that wait their turn.
template <class Owner, class Target, auto Deliver, class Call>
class DeliverySet {
public:
    using TargetPtr = ComPtr<Target>;

    bool empty() const { return m_targets.empty(); }

    // False when the target is in the set already. Room for the snapshots is
    // made here, before the set changes, so that a delivery never allocates
    // and cannot fail half-way.
    bool add(TargetPtr target) {
        if (holds(target.get())) return false;
        m_snapshot.reserve(m_targets.size() + 1);
        m_targets.reserve(m_targets.size() + 1);
        m_targets.insert(find(target.get()), std::move(target));
        return true;
    }

    // False when the target is not in the set.
    bool remove(Target* target) {
        if (!holds(target)) return false;
        const auto at = find(target);
        // The snapshot holds no references of its own: a target it has still
        // to call, or is calling, is kept until the delivery has gone to all.
        const bool snapshotted = std::find(m_snapshot.begin(), m_snapshot.end(), target) != m_snapshot.end();
        if (snapshotted) m_retired.reserve(m_retired.size() + 1);
        // Released only once the set is whole again: the last release may call back.
        TargetPtr removed = std::move(*at);
        m_targets.erase(at);
        if (snapshotted) m_retired.push_back(std::move(removed));
        return true;
    }

    // Released once the set is empty, for the same reason.
    void clear() {
        std::vector<TargetPtr> targets;
        targets.swap(m_targets);
    }

    // To every target of the set as the delivery begins, in ascending pointer
    // order; what a target returns does not keep the others from theirs.
    void deliver(BYTE* data, LONG length) {
        for (const TargetPtr& target : m_targets) m_snapshot.push_back(target.get());
        const struct End {
            DeliverySet& set;
            ~End() { set.dropSnapshot(); }  // also when a target throws
        } end{*this};
        // By index: a target added meanwhile may move the snapshot to larger room.
        for (std::size_t i = 0; i < m_snapshot.size(); ++i) (m_snapshot[i]->*Deliver)(data, length);
    }

    // Deliveries never nest. A call that comes in during one (from a target)
    // is queued, and run(kind, data, length) takes it after the call under
    // way, in arrival order; what is still queued when a target throws goes.
    // Returns what run returned for the call itself; a queued call gets a
    // value-initialised result.
    bool delivering() const { return m_delivering; }
    template <class Run>
    auto inTurn(Call kind, const BYTE* data, LONG length, Run&& run) {
        using Result = std::invoke_result_t<Run&, Call, const BYTE*, LONG>;
        if (m_delivering) {
            m_pending.push_back({kind, std::vector<BYTE>(data, data + length)});
            return Result();
        }
        // Declared first, so the owner, when it lost its last reference
        // meanwhile, ends last of all.
        LastReference<Owner> last;
        m_delivering = true;
        const struct End {
            DeliverySet& set;
            LastReference<Owner>& last;
            ~End() {
                set.m_pending.clear();
                set.m_delivering = false;
                last = std::move(set.m_lastReference);
            }
        } end{*this, last};
        const auto runQueued = [&] {
            for (std::size_t i = 0; i < m_pending.size(); ++i) {
                const Pending call = std::move(m_pending[i]);  // taken out first: running it may queue more
                run(call.kind, call.bytes.data(), static_cast<LONG>(call.bytes.size()));
            }
        };
        if constexpr (std::is_void_v<Result>) {
            run(kind, data, length);
            runQueued();
        } else {
            Result result = run(kind, data, length);
            runQueued();
            return result;
        }
    }

    // The owner's last reference, handed over by its takeLastReference: kept
    // while a delivery is under way, else let go at once.
    void keepUntilDelivered(LastReference<Owner> self) {
        if (m_delivering) m_lastReference = std::move(self);
    }

private:
    struct Pending {
        Call kind;
        std::vector<BYTE> bytes;
    };

    // Where the target stands, or would stand, in the ascending set.
    typename std::vector<TargetPtr>::iterator find(Target* target) {
        return std::lower_bound(m_targets.begin(), m_targets.end(), target,
                                [](const TargetPtr& a, Target* b) { return a.get() < b; });
    }
    bool holds(Target* target) {
        const auto at = find(target);
        return at != m_targets.end() && at->get() == target;
    }

    void dropSnapshot() {
        m_snapshot.clear();
        // In the order a snapshot of references would have let them go.
        std::vector<TargetPtr> retired;
        retired.swap(m_retired);
        std::sort(retired.begin(), retired.end(),
                  [](const TargetPtr& a, const TargetPtr& b) { return a.get() < b.get(); });
        for (TargetPtr& target : retired) target.reset();
    }

    std::vector<TargetPtr> m_targets;  // ascending by pointer, one reference each
    // What the delivery under way calls: raw pointers, held by the set (or
    // by m_retired) while it needs them.
    std::vector<Target*> m_snapshot;
    std::vector<TargetPtr> m_retired;  // removed while the snapshot still needs them
    bool m_delivering = false;
    std::vector<Pending> m_pending;  // calls that came in during the delivery, in arrival order
    LastReference<Owner> m_lastReference;
};

}  // namespace kv::com
