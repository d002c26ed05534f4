-- One row per requested page and its outcome. A page loaded again (a retry of
-- failed pages) updates its row and adds its rows to the run.
CREATE TABLE pages (
  id INTEGER PRIMARY KEY,
  run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
  target TEXT NOT NULL,
  page INTEGER NOT NULL,
  outcome TEXT NOT NULL CHECK (outcome IN ('ok', 'failed', 'blocked')),
  reason TEXT NOT NULL DEFAULT '',
  attempts INTEGER NOT NULL DEFAULT 1,
  row_count INTEGER NOT NULL DEFAULT 0,
  stored TEXT NOT NULL,
  UNIQUE (run_id, target, page)
);
CREATE INDEX pages_not_ok ON pages (run_id) WHERE outcome <> 'ok';
