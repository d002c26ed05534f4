-- Why a run ended 'failed' (short English; empty otherwise), and the uid of
-- the run whose failed pages this run asked for again (empty when none).
-- A uid, not an id, so that a copy into another database keeps the link.
ALTER TABLE runs ADD COLUMN reason TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN continues TEXT NOT NULL DEFAULT '';
