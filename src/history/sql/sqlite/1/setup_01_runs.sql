-- One row per rank query or mining run. ending stays 'unfinished' until the
-- run ends; a run killed midway keeps it. row_count grows with every stored page.
CREATE TABLE runs (
  id INTEGER PRIMARY KEY,
  uid TEXT NOT NULL UNIQUE,
  kind TEXT NOT NULL CHECK (kind IN ('rank', 'mine')),
  settings TEXT NOT NULL DEFAULT '',
  columns TEXT NOT NULL DEFAULT '',
  started TEXT NOT NULL,
  finished TEXT,
  ending TEXT NOT NULL DEFAULT 'unfinished'
    CHECK (ending IN ('unfinished', 'finished', 'stopped', 'blocked', 'failed')),
  row_count INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX runs_started ON runs (started, id);

-- The domains (rank) or seeds (mine) of a run, in the order given.
CREATE TABLE run_targets (
  run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  target TEXT NOT NULL,
  PRIMARY KEY (run_id, position)
);
CREATE INDEX run_targets_target ON run_targets (target, run_id);
