#include "engine/Transaction.h"

namespace engine {

Transaction::Transaction(TADOConnection& connection)
    : connection_(connection), level_(connection.BeginTrans()) {}

Transaction::~Transaction() {
  // The connection may have been closed (file gone) and reopened meanwhile: then this
  // transaction is already over and a rollback would hit another one.
  if (!done_ && connection_.TransactionLevel() == level_) connection_.RollbackTrans();
}

void Transaction::commit() {
  if (done_ || connection_.TransactionLevel() != level_)
    throw EDatabaseError(QStringLiteral("The transaction has already ended."));
  connection_.CommitTrans();
  done_ = true;
}

}  // namespace engine
