#ifndef QM_TESTS_SMALL_STACK_H
#define QM_TESTS_SMALL_STACK_H

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>

// Runs the work on a thread with a small stack (512 KiB), so that any walk whose
// depth follows a tree's depth would overflow it.
inline void run_on_small_stack(const std::function<void()>& work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 512 * 1024);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

#endif
