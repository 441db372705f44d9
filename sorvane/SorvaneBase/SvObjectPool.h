#pragma once
// A pool of reusable objects. acquire() hands out an object nobody else holds; it returns to
// the pool when its last reference drops. An exhausted pool allocates a fresh object instead of
// blocking: the callers (camera callbacks) must never stall, and a burst simply grows the pool.
// Objects handed out may outlive the pool; they are then freed instead of returned.
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace sorvane {

class SvObjectPoolBase {
public:
    virtual ~SvObjectPoolBase() = default;
    virtual size_t available() const = 0;
    virtual size_t capacity() const = 0;
};

template <typename T>
class SvObjectPool : public SvObjectPoolBase {
public:
    using Factory = std::function<std::unique_ptr<T>()>;
    // Readies a returned object for its next use; runs on the thread that drops it.
    using Recycle = std::function<void(T&)>;

    SvObjectPool(size_t count, Factory factory, Recycle recycle = {})
        : state(std::make_shared<State>())
    {
        state->factory = std::move(factory);
        state->recycle = std::move(recycle);
        state->free.reserve(count);
        for (size_t i = 0; i < count; ++i)
            state->free.push_back(state->factory());
        state->created = count;
    }

    std::shared_ptr<T> acquire()
    {
        std::unique_ptr<T> object;
        {
            std::lock_guard lock(state->mutex);
            if (!state->free.empty()) {
                object = std::move(state->free.back());
                state->free.pop_back();
            } else {
                ++state->created;
            }
        }
        if (!object)
            object = state->factory();
        std::weak_ptr<State> home = state;
        return std::shared_ptr<T>(object.release(), [home](T* returned) {
            if (auto alive = home.lock()) {
                if (alive->recycle)
                    alive->recycle(*returned);
                std::lock_guard lock(alive->mutex);
                alive->free.emplace_back(returned);
                return;
            }
            delete returned;
        });
    }

    size_t available() const override
    {
        std::lock_guard lock(state->mutex);
        return state->free.size();
    }

    // Objects created so far, in the pool or handed out.
    size_t capacity() const override
    {
        std::lock_guard lock(state->mutex);
        return state->created;
    }

private:
    struct State {
        // Guards free and created against concurrent acquire and return.
        mutable std::mutex mutex;
        std::vector<std::unique_ptr<T>> free;
        size_t created = 0;
        Factory factory;
        Recycle recycle;
    };
    std::shared_ptr<State> state;
};

class SvObjectPoolFactory {
public:
    // count objects, each constructed as T(arg). For T = std::vector<Event2D> the argument is the
    // capacity reserved, so appending up to that many events never allocates; a vector that grew
    // beyond it gives its memory back on return and comes back with that capacity again.
    template <typename T>
    static std::unique_ptr<SvObjectPool<T>> createUniqueSvObjectPoolWithArgs(size_t count, int arg)
    {
        typename SvObjectPool<T>::Recycle recycle;
        if constexpr (requires(T& t) { t.reserve(size_t(arg)); t.capacity(); t.clear(); }) {
            recycle = [room = size_t(arg > 0 ? arg : 0)](T& returned) {
                if (returned.capacity() > room)
                    returned = std::move(*makeWithArg<T>(int(room)));
                else
                    returned.clear();
            };
        }
        return std::make_unique<SvObjectPool<T>>(count, [arg] { return makeWithArg<T>(arg); }, std::move(recycle));
    }

private:
    template <typename T>
    static std::unique_ptr<T> makeWithArg(int arg)
    {
        if constexpr (requires(T& t) { t.reserve(size_t(arg)); t.clear(); }) {
            auto object = std::make_unique<T>();
            object->reserve(size_t(arg > 0 ? arg : 0));
            return object;
        } else {
            return std::make_unique<T>(arg);
        }
    }
};

} // namespace sorvane
