#include "exceptlog/capture/callstack/class_names.h"

#include <gtest/gtest.h>

namespace worker {
struct TSendThread {
  virtual ~TSendThread() = default;
};
}  // namespace worker

namespace vellum::exceptlog {
namespace {

struct Base {
  virtual ~Base() = default;
};
struct Other {
  virtual ~Other() = default;
};
struct Derived : worker::TSendThread {};
struct Mixed : Other, Derived {};
template <typename T>
struct Holder : Base {};
struct Plain : Base {};

TEST(ClassNames, AncestorsAreFoundByUnqualifiedName) {
  EXPECT_EQ(UnqualifiedClassName(typeid(worker::TSendThread)), "TSendThread");
  EXPECT_EQ(UnqualifiedClassName(typeid(Holder<int>)), "Holder");
  EXPECT_TRUE(ClassOrAncestorNamed(typeid(worker::TSendThread), {"TExceptionThread", "TSendThread"}));
  EXPECT_TRUE(ClassOrAncestorNamed(typeid(Derived), {"TSendThread"}));
  EXPECT_TRUE(ClassOrAncestorNamed(typeid(Mixed), {"TSendThread"})) << "through a second base class";
  EXPECT_FALSE(ClassOrAncestorNamed(typeid(Plain), {"TSendThread", "Send"}));
  EXPECT_FALSE(ClassOrAncestorNamed(typeid(Holder<worker::TSendThread>), {"TSendThread"}))
      << "a template argument is no ancestor";
}

}  // namespace
}  // namespace vellum::exceptlog
