#pragma once
// A transaction (or nested one) that rolls back unless committed: for statements that must
// stand or fall together.
#include "engine/TADOConnection.h"

namespace engine {

class Transaction {
 public:
  /// Begins it. Throws EDatabaseError.
  explicit Transaction(TADOConnection& connection);
  /// Rolls back when neither committed nor already ended by the connection closing.
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  /// Throws EDatabaseError; the destructor then rolls back.
  void commit();

 private:
  TADOConnection& connection_;
  int level_;
  bool done_ = false;
};

}  // namespace engine
