// The runtime's state that every thread shares, run by many threads at once
// as the free-threaded build runs it (the guards real mutexes, no interpreter
// lock), under ThreadSanitizer: once-cells filled by racing first uses,
// references dropped while detached and drained by other threads, the
// constant strs of the error tokens and the shared field strs of Vrn. Each
// test also checks the outcome: one initialisation, the right text for every
// key, every reference given back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <latch>
#include <source_location>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "native/field_strs.hpp"
#include "runtime/attach.hpp"
#include "runtime/fault.hpp"
#include "runtime/once_cell.hpp"
#include "runtime/process.hpp"

static_assert(VELTRANE_ABI3T, "these tests are of the free-threaded build's shared state");

// The interpreter calls the code under test makes and these tests never
// reach: a stand-in that fails loudly if they do.
struct PyThreadState {};
PyThreadState* PyEval_SaveThread() {
    stand_in::detached = true;
    static PyThreadState state;
    return &state;
}
void PyEval_RestoreThread(PyThreadState* /*state*/) { stand_in::detached = false; }
void* PyModule_GetState(PyObject* /*module*/) { std::abort(); }

namespace veltrane::runtime {
void null_result_fault(std::source_location /*where*/) { std::abort(); }
PyObject* type_from_spec_or_fault(PyType_Spec& /*spec*/, std::source_location /*where*/) { std::abort(); }
}  // namespace veltrane::runtime

namespace veltrane::runtime {
namespace {

constexpr int kThreads = 8;

// Runs `work(thread)` on kThreads threads released together.
template <class Work>
void on_threads(Work work) {
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            start.arrive_and_wait();
            work(thread);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

std::atomic<int> g_initialisations{0};

PyObject* make_slowly(const void* text) {
    EXPECT_FALSE(stand_in::detached) << "the initialiser must run attached";
    g_initialisations.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the others pile up
    const auto* chars = static_cast<const char*>(text);
    return PyUnicode_FromStringAndSize(chars, static_cast<Py_ssize_t>(std::char_traits<char>::length(chars)));
}

TEST(SharedState, OnceCellRacingFirstUsesInitialiseOnce) {
    for (int round = 0; round < 5; ++round) {
        OnceCell cell;
        g_initialisations = 0;
        const std::size_t lost_before = OnceCell::lost_races();
        std::vector<PyObject*> seen(kThreads);
        on_threads([&](int thread) {
            AttachScope attached;
            seen[static_cast<std::size_t>(thread)] = cell.get(make_slowly, "the cell's text");
            EXPECT_FALSE(stand_in::detached);
        });
        EXPECT_EQ(g_initialisations.load(), 1);
        for (PyObject* object : seen) {
            ASSERT_EQ(object, seen[0]);
        }
        EXPECT_EQ(seen[0]->text, "the cell's text");
        EXPECT_LE(OnceCell::lost_races() - lost_before, static_cast<std::size_t>(kThreads - 1));
        Py_DecRef(seen[0]);  // the cell's, for this test only: a real cell keeps it
    }
}

TEST(SharedState, ReleasesWhileDetachedAreAllAppliedOnce) {
    const long live_before = stand_in::live_objects.load();
    constexpr int kObjects = 2000;
    on_threads([&](int thread) {
        for (int i = 0; i < kObjects; ++i) {
            PyObject* object = PyUnicode_FromStringAndSize("x", 1);
            if ((i + thread) % 3 == 0) {
                AttachScope attached;  // drains what others queued, then drops at once
                release(object);
            } else {
                release(object);  // detached (no frame open): queued for the next frame entry
            }
        }
    });
    { AttachScope attached; }  // the last queued ones
    EXPECT_EQ(process().pending_count.load(), 0u);
    EXPECT_EQ(stand_in::live_objects.load(), live_before);
}

// Texts with a fixed address each, as the error tokens are; more of them than
// the table has slots, so threads evict each other's entries.
constexpr std::string_view kConstants[] = {
    "empty", "too-long", "bad-prefix", "bad-service", "bad-region", "bad-org", "bad-resource-type",
    "bad-resource-id", "missing-field", "bad-separator", "not-ascii",
};
std::vector<std::string> many_texts(std::size_t count) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < count; ++i) {
        texts.push_back("text-" + std::to_string(i * 7919));
    }
    return texts;
}

TEST(SharedState, ConstantStrsGiveEachThreadTheRightStr) {
    const std::vector<std::string> extra = many_texts(150);  // stable addresses for this test
    const long live_before = stand_in::live_objects.load();
    {
        ConstantStrs strs;
        on_threads([&](int thread) {
            for (int i = 0; i < 3000; ++i) {
                const std::size_t pick = static_cast<std::size_t>(i * 31 + thread * 17);
                const std::string_view text = pick % 2 == 0 ? kConstants[pick % std::size(kConstants)]
                                                            : std::string_view(extra[pick % extra.size()]);
                PyObject* str = strs.get(text);
                ASSERT_EQ(str->text, text);
                Py_DecRef(str);
            }
        });
        // What is left alive is the table's own: one str per slot at most.
        EXPECT_LE(stand_in::live_objects.load() - live_before, 64);
    }
}

TEST(SharedState, FieldStrsGiveEachThreadTheRightStr) {
    const std::vector<std::string> texts = many_texts(300);
    const long live_before = stand_in::live_objects.load();
    {
        native::FieldStrs strs;
        on_threads([&](int thread) {
            for (int i = 0; i < 3000; ++i) {
                // Each thread's own copy of the text: equal texts at other places.
                const std::string text = texts[static_cast<std::size_t>(i * 13 + thread * 101) % texts.size()];
                PyObject* str = strs.get(text.data(), text.size());
                ASSERT_EQ(str->text, text);
                Py_DecRef(str);
            }
        });
        EXPECT_LE(stand_in::live_objects.load() - live_before, 64);
    }
}

}  // namespace
}  // namespace veltrane::runtime
