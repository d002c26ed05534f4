-- Why a run ended 'failed' (short English; empty otherwise); the uid of the
-- run whose failed pages this run asked for again (empty when none), a uid
-- rather than an id so that a copy into another database keeps the link; and
-- the run's plan, every input it was started with, as JSON.
ALTER TABLE runs ADD COLUMN reason TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN continues TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN plan TEXT NOT NULL DEFAULT '';
