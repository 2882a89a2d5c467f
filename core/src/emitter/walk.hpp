// The emitter's walk of a tree, on a stack of its own. The emitter is written
// as calls that recurse (a node calls its children), but each of those calls
// is a coroutine whose frame lives on the heap: a call that waits for a
// child's result suspends, the child's frame goes on top of `Walk::frames`,
// and `Walk::run` resumes whichever frame is on top until the first call is
// done. So the thread's stack stays as it is however deep the document
// nests, and a frame costs memory only while its node is being written.
// Frames are drawn from a free list per size, so that the walk allocates
// only as deep as the document nests, not once per node.
#pragma once

#include <coroutine>
#include <cstddef>
#include <exception>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace brackle_core::emitter {

class FramePool {
public:
    FramePool() = default;
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;
    ~FramePool() {
        for (auto& [size, blocks] : free_) {
            for (void* block : blocks) ::operator delete(block);
        }
    }

    // A block of `size` bytes that remembers its pool and size just before it.
    void* allocate(std::size_t size) {
        for (auto& [held, blocks] : free_) {
            if (held == size && !blocks.empty()) {
                void* block = blocks.back();
                blocks.pop_back();
                return static_cast<Header*>(block) + 1;
            }
        }
        auto* header = static_cast<Header*>(::operator new(sizeof(Header) + size));
        header->pool = this;
        header->size = size;
        return header + 1;
    }

    static void release(void* p) noexcept {
        Header* header = static_cast<Header*>(p) - 1;
        header->pool->keep(header);
    }

private:
    struct alignas(std::max_align_t) Header {
        FramePool* pool;
        std::size_t size;
    };

    void keep(Header* header) noexcept {
        for (auto& [held, blocks] : free_) {
            if (held == header->size) {
                try {
                    blocks.push_back(header);
                    return;
                } catch (...) {
                    break;
                }
            }
        }
        try {
            free_.emplace_back(header->size, std::vector<void*>{header});
        } catch (...) {
            ::operator delete(header);
        }
    }

    // A few sizes only: one per kind of call.
    std::vector<std::pair<std::size_t, std::vector<void*>>> free_;
};

// The frames of the calls under way, innermost last.
struct Walk {
    std::vector<std::coroutine_handle<>> frames;
    FramePool pool;
};

// The result of a call of the walk: awaited by its caller, or run by `run`.
template <class T>
class [[nodiscard]] Task {
public:
    struct promise_type {
        T value{};
        std::exception_ptr error;
        Walk* walk;

        // The calls are member functions of an owner that has a `walk()`;
        // its frame comes from the owner's pool.
        template <class Owner, class... Args>
        explicit promise_type(Owner& owner, Args&&...) : walk(&owner.walk()) {}
        template <class Owner, class... Args>
        static void* operator new(std::size_t size, Owner& owner, Args&&...) {
            return owner.walk().pool.allocate(size);
        }
        static void operator delete(void* p) noexcept { FramePool::release(p); }

        Task get_return_object() { return Task(Handle::from_promise(*this)); }
        std::suspend_always initial_suspend() noexcept { return {}; }
        std::suspend_always final_suspend() noexcept { return {}; }
        void return_value(T v) { value = std::move(v); }
        void unhandled_exception() { error = std::current_exception(); }
    };
    using Handle = std::coroutine_handle<promise_type>;

    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    Task& operator=(Task&&) = delete;
    ~Task() {
        if (handle_) handle_.destroy();
    }

    // Awaited: the caller waits while the call's frame runs on top of the walk.
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<>) {
        handle_.promise().walk->frames.push_back(handle_);
    }
    T await_resume() { return result(); }

    // Runs the call and every call it makes to the end, on the walk's stack.
    T run() {
        std::vector<std::coroutine_handle<>>& frames = handle_.promise().walk->frames;
        const std::size_t base = frames.size();
        frames.push_back(handle_);
        while (frames.size() > base) {
            const std::coroutine_handle<> top = frames.back();
            top.resume();
            if (top.done()) frames.pop_back();
        }
        return result();
    }

private:
    explicit Task(Handle handle) : handle_(handle) {}

    T result() {
        if (handle_.promise().error) std::rethrow_exception(handle_.promise().error);
        return std::move(handle_.promise().value);
    }

    Handle handle_;
};

}  // namespace brackle_core::emitter
