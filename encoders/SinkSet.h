#pragma once

// The sinks of one encoder object, and its deliveries to them. A sink may
// call the encoder while it is being called: add or remove sinks, push PCM,
// flush, reset. So a block goes to a snapshot of the set, a sink removed
// meanwhile is kept until the block has gone to all, and a call that would
// code waits in a queue until the delivery under way ends: the block being
// delivered is never overwritten, and every sink sees every block once, in
// order.

#include "com/ComPtr.h"
#include "interfaces/Interfaces.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kv::encoders {

class SinkSet {
public:
    using SinkPtr = com::ComPtr<IKvAudioSink>;
    // The calls that code, queued when they come in during a delivery.
    enum class Call { Data, Flush, Reset };

    bool empty() const { return m_sinks.empty(); }

    // False when the sink is in the set already. Room for the snapshots is
    // made here, before the set changes, so that a delivery never allocates
    // and cannot fail half-way.
    bool add(SinkPtr sink) {
        if (holds(sink.get())) return false;
        m_snapshot.reserve(m_sinks.size() + 1);
        m_sinks.reserve(m_sinks.size() + 1);
        m_sinks.insert(find(sink.get()), std::move(sink));
        return true;
    }

    // False when the sink is not in the set.
    bool remove(IKvAudioSink* sink) {
        if (!holds(sink)) return false;
        const auto at = find(sink);
        // The snapshot holds no references of its own: a sink it has still
        // to call, or is calling, is kept until the block has gone to all.
        const bool snapshotted = std::find(m_snapshot.begin(), m_snapshot.end(), sink) != m_snapshot.end();
        if (snapshotted) m_retired.reserve(m_retired.size() + 1);
        // Released only once the set is whole again: the last release may call back.
        SinkPtr removed = std::move(*at);
        m_sinks.erase(at);
        if (snapshotted) m_retired.push_back(std::move(removed));
        return true;
    }

    // Released once the set is empty, for the same reason.
    void clear() {
        std::vector<SinkPtr> sinks;
        sinks.swap(m_sinks);
    }

    // To every sink of the set as the delivery begins, in ascending pointer order.
    void deliver(BYTE* block, LONG length) {
        for (const SinkPtr& sink : m_sinks) m_snapshot.push_back(sink.get());
        const struct End {
            SinkSet& set;
            ~End() { set.dropSnapshot(); }  // also when a sink throws
        } end{*this};
        // By index: a sink added meanwhile may move the snapshot to larger room.
        for (std::size_t i = 0; i < m_snapshot.size(); ++i) m_snapshot[i]->OnEncodedData(block, length);
    }

    // Deliveries never nest. A call that comes in during one (from a sink)
    // is queued, and run(kind, data, length) takes it after the call under
    // way, in arrival order; what is still queued when a sink throws goes.
    bool delivering() const { return m_delivering; }
    template <class Run>
    void inTurn(Call kind, const BYTE* data, LONG length, Run&& run) {
        if (m_delivering) {
            m_pending.push_back({kind, std::vector<BYTE>(data, data + length)});
            return;
        }
        m_delivering = true;
        const struct End {
            SinkSet& set;
            ~End() {
                set.m_pending.clear();
                set.m_delivering = false;
            }
        } end{*this};
        run(kind, data, length);
        for (std::size_t i = 0; i < m_pending.size(); ++i) {
            const Pending call = std::move(m_pending[i]);  // taken out first: running it may queue more
            run(call.kind, call.bytes.data(), static_cast<LONG>(call.bytes.size()));
        }
    }

private:
    struct Pending {
        Call kind;
        std::vector<BYTE> bytes;
    };

    // Where the sink stands, or would stand, in the ascending set.
    std::vector<SinkPtr>::iterator find(IKvAudioSink* sink) {
        return std::lower_bound(m_sinks.begin(), m_sinks.end(), sink,
                                [](const SinkPtr& a, IKvAudioSink* b) { return a.get() < b; });
    }
    bool holds(IKvAudioSink* sink) {
        const auto at = find(sink);
        return at != m_sinks.end() && at->get() == sink;
    }

    void dropSnapshot() {
        m_snapshot.clear();
        // In the order a snapshot of references would have let them go.
        std::vector<SinkPtr> retired;
        retired.swap(m_retired);
        std::sort(retired.begin(), retired.end(), [](const SinkPtr& a, const SinkPtr& b) { return a.get() < b.get(); });
        for (SinkPtr& sink : retired) sink.reset();
    }

    std::vector<SinkPtr> m_sinks;  // ascending by pointer, one reference each
    // What the delivery under way calls: raw pointers, held by the set (or
    // by m_retired) while it needs them.
    std::vector<IKvAudioSink*> m_snapshot;
    std::vector<SinkPtr> m_retired;  // removed while the snapshot still needs them
    bool m_delivering = false;
    std::vector<Pending> m_pending;  // calls that came in during the delivery, in arrival order
};

}  // namespace kv::encoders
