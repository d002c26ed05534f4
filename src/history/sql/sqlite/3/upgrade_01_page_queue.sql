-- The pages of a run as a queue that outlives the program, so that a run
-- killed midway can go on, and several processes can share one run.
--
-- runs: campaign names a run that processes share (NULL: none; one run a
-- name, for good); abandoned marks a run the user gave up, never offered to
-- go on again; result_file is the one result file of a mining run that
-- writes all its lines to one file (empty: none); files_written is set by
-- the one process that writes a shared run's result files.
ALTER TABLE runs ADD COLUMN campaign TEXT;
ALTER TABLE runs ADD COLUMN abandoned INTEGER NOT NULL DEFAULT 0;
ALTER TABLE runs ADD COLUMN result_file TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN files_written INTEGER NOT NULL DEFAULT 0;
CREATE UNIQUE INDEX runs_campaign ON runs (campaign) WHERE campaign IS NOT NULL;

-- Per target: where it stands in the run, how many pages its page 1 revealed
-- (NULL until page 1 is stored), who works on it and until when (epoch
-- milliseconds), and its own result file when the run writes one per seed.
CREATE TABLE queue_targets (
  run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
  target TEXT NOT NULL,
  position INTEGER NOT NULL,
  pages INTEGER,
  holder TEXT NOT NULL DEFAULT '',
  lease_until INTEGER NOT NULL DEFAULT 0,
  result_file TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (run_id, target)
);
CREATE INDEX queue_targets_position ON queue_targets (run_id, position);

-- Per page: its state, the attempts counted as it was claimed, who holds it
-- and until when, and why it failed. Page 1 of every target is there from the
-- start; the others are added as page 1 reveals them.
CREATE TABLE queue_pages (
  run_id INTEGER NOT NULL,
  target TEXT NOT NULL,
  page INTEGER NOT NULL,
  state TEXT NOT NULL DEFAULT 'pending'
    CHECK (state IN ('pending', 'claimed', 'ok', 'failed', 'blocked')),
  attempts INTEGER NOT NULL DEFAULT 0,
  holder TEXT NOT NULL DEFAULT '',
  lease_until INTEGER NOT NULL DEFAULT 0,
  reason TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (run_id, target, page),
  FOREIGN KEY (run_id, target) REFERENCES queue_targets (run_id, target) ON DELETE CASCADE
);
CREATE INDEX queue_pages_open ON queue_pages (run_id) WHERE state IN ('pending', 'claimed');
