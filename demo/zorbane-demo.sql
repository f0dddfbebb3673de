-- The demo schema store. Run after zorbane-schema.sql:
--   cat zorbane-schema.sql zorbane-demo.sql | sqlite3 zorbane-demo.db
--
-- "Library" and "Library Revised Edition" are two states of one schema: load the first as
-- version 1.0, the second as 2.0, and compare. Between them: LibraryItem.ItemId changes type
-- (Integer -> Decimal), LibraryItem.ItemCount moves from class to instance level,
-- Member.Rating changes type (Decimal -> Real), Member.Fine moves from instance to class
-- level, Magazine's parent changes (LibraryItem -> Periodical), Periodical is added,
-- Microfilm is removed, Book.Pages is removed and Book.Edition added.
-- "Library Third" is a third state after "Library Revised Edition": Member.Joined is renamed
-- Member.JoinedOn, and Magazine.IssueNo is pulled up into Periodical. Load it as 3.0.
-- "  Fleet  " has blanks around its name; "Empty Family" has no classes.
-- Type codes: 0 Void, 1 Boolean, 2 Integer, 3 Decimal, 4 Real, 5 String, 6 ByteSequence,
-- 7 Reference to Object, 8 Value Collection (Set), 9 Multimedia, 10 Date; 11 is unknown.

INSERT INTO zfamily (family_id, name, position) VALUES
  (1, 'Library', 1),
  (2, 'Library Revised Edition', 2),
  (3, '  Fleet  ', 3),
  (4, 'Empty Family', 4),
  (5, 'Library Third', 5);

-- Library, state one
INSERT INTO zclass (class_id, family_id, name, position) VALUES
  (101, 1, 'LibraryItem', 1),
  (102, 1, 'Book', 2),
  (103, 1, 'Magazine', 3),
  (104, 1, 'Microfilm', 4),
  (105, 1, 'Member', 5),
  (106, 1, 'Loan', 6),
  (107, 1, 'Archive', 7),
  (108, 1, 'RareBook', 8);
INSERT INTO zsuperclass (class_id, super_id, position) VALUES
  (102, 101, 1), (103, 101, 1), (104, 101, 1), (108, 102, 1), (108, 107, 2);
INSERT INTO zproperty (property_id, class_id, name, position, level, type_code, is_mandatory, is_unique, description, precision, scale) VALUES
  (1001, 101, 'Title', 1, 'I', 5, 1, 0, 'Title as printed', 120, 0),
  (1002, 101, 'ItemId', 2, 'I', 2, 1, 1, 'Catalogue number', 10, 0),
  (1003, 101, 'Created', 3, 'I', 10, 0, 0, 'Date catalogued', 0, 0),
  (1004, 101, 'ItemCount', 4, 'C', 2, 0, 0, 'Items in the catalogue', 10, 0),
  (1005, 102, 'Isbn', 1, 'I', 5, 0, 1, '', 13, 0),
  (1006, 102, 'Pages', 2, 'I', 2, 0, 0, '', 6, 0),
  (1007, 102, 'Authors', 3, 'I', 8, 0, 0, 'Names of the authors', 0, 0),
  (1008, 102, 'Checksum', 4, 'I', 11, 0, 0, 'Type unknown to the tool', 0, 0),
  (1009, 103, 'IssueNo', 1, 'I', 2, 0, 0, '', 6, 0),
  (1010, 103, 'Cover', 2, 'I', 9, 0, 0, 'Scanned cover', 0, 0),
  (1011, 104, 'Reel', 1, 'I', 2, 0, 0, '', 4, 0),
  (1012, 105, 'Name', 1, 'I', 5, 1, 0, '', 60, 0),
  (1013, 105, 'Joined', 2, 'I', 10, 0, 0, '', 0, 0),
  (1014, 105, 'Rating', 3, 'I', 3, 0, 0, '', 5, 2),
  (1015, 106, 'Item', 1, 'I', 7, 1, 0, '', 0, 0),
  (1016, 106, 'Borrower', 2, 'I', 7, 1, 0, '', 0, 0),
  (1017, 106, 'DueDate', 3, 'I', 10, 0, 0, '', 0, 0);
UPDATE zproperty SET is_set = 1 WHERE type_code = 8;
UPDATE zproperty SET default_value = '0' WHERE property_id IN (1004, 1006);
INSERT INTO zmethod (method_id, class_id, name, position, level, type_code, description) VALUES
  (2001, 101, 'Describe', 1, 'I', 5, 'One-line description'),
  (2002, 101, 'Count', 2, 'C', 2, 'Items in the catalogue'),
  (2003, 102, 'Borrow', 1, 'I', 1, ''),
  (2004, 105, 'Fine', 1, 'I', 4, 'Fine owed'),
  (2005, 106, 'Renew', 1, 'I', 1, ''),
  (2006, 106, 'Overdue', 2, 'I', 1, ''),
  (2007, 104, 'Rewind', 1, 'I', 0, '');
INSERT INTO zparameter (parameter_id, method_id, name, position, type_code, precision, scale, default_value) VALUES
  (3001, 2003, 'Borrower', 1, 7, 0, 0, ''),
  (3002, 2003, 'Days', 2, 2, 3, 0, '14'),
  (3003, 2005, 'Days', 1, 2, 3, 0, '7'),
  (3004, 2004, 'AsOf', 1, 10, 0, 0, '');

-- Library Revised Edition, state two
INSERT INTO zclass (class_id, family_id, name, position) VALUES
  (201, 2, 'LibraryItem', 1),
  (202, 2, 'Book', 2),
  (209, 2, 'Periodical', 3),
  (203, 2, 'Magazine', 4),
  (205, 2, 'Member', 5),
  (206, 2, 'Loan', 6),
  (207, 2, 'Archive', 7),
  (208, 2, 'RareBook', 8);
INSERT INTO zsuperclass (class_id, super_id, position) VALUES
  (202, 201, 1), (209, 201, 1), (203, 209, 1), (208, 202, 1), (208, 207, 2);
INSERT INTO zproperty (property_id, class_id, name, position, level, type_code, is_mandatory, is_unique, description, precision, scale) VALUES
  (4001, 201, 'Title', 1, 'I', 5, 1, 0, 'Title as printed', 120, 0),
  (4002, 201, 'ItemId', 2, 'I', 3, 1, 1, 'Catalogue number', 12, 0),
  (4003, 201, 'Created', 3, 'I', 10, 0, 0, 'Date catalogued', 0, 0),
  (4004, 201, 'ItemCount', 4, 'I', 2, 0, 0, 'Items in the catalogue', 10, 0),
  (4005, 202, 'Isbn', 1, 'I', 5, 0, 1, '', 13, 0),
  (4007, 202, 'Authors', 2, 'I', 8, 0, 0, 'Names of the authors', 0, 0),
  (4008, 202, 'Checksum', 3, 'I', 11, 0, 0, 'Type unknown to the tool', 0, 0),
  (4018, 202, 'Edition', 4, 'I', 2, 0, 0, '', 3, 0),
  (4019, 209, 'Frequency', 1, 'C', 5, 0, 0, 'Issues per year', 20, 0),
  (4009, 203, 'IssueNo', 1, 'I', 2, 0, 0, '', 6, 0),
  (4010, 203, 'Cover', 2, 'I', 9, 0, 0, 'Scanned cover', 0, 0),
  (4012, 205, 'Name', 1, 'I', 5, 1, 0, '', 60, 0),
  (4013, 205, 'Joined', 2, 'I', 10, 0, 0, '', 0, 0),
  (4014, 205, 'Rating', 3, 'I', 4, 0, 0, '', 0, 0),
  (4015, 206, 'Item', 1, 'I', 7, 1, 0, '', 0, 0),
  (4016, 206, 'Borrower', 2, 'I', 7, 1, 0, '', 0, 0),
  (4017, 206, 'DueDate', 3, 'I', 10, 0, 0, '', 0, 0);
UPDATE zproperty SET is_set = 1 WHERE type_code = 8;
INSERT INTO zmethod (method_id, class_id, name, position, level, type_code, description) VALUES
  (5001, 201, 'Describe', 1, 'I', 5, 'One-line description'),
  (5002, 201, 'Count', 2, 'C', 2, 'Items in the catalogue'),
  (5003, 202, 'Borrow', 1, 'I', 1, ''),
  (5004, 205, 'Fine', 1, 'C', 4, 'Fine owed'),
  (5005, 206, 'Renew', 1, 'I', 1, ''),
  (5006, 206, 'Overdue', 2, 'I', 1, '');
INSERT INTO zparameter (parameter_id, method_id, name, position, type_code, precision, scale, default_value) VALUES
  (6001, 5003, 'Borrower', 1, 7, 0, 0, ''),
  (6002, 5003, 'Days', 2, 2, 3, 0, '21'),
  (6003, 5005, 'Days', 1, 2, 3, 0, '7'),
  (6004, 5004, 'AsOf', 1, 10, 0, 0, '');

-- "  Fleet  ": a small family whose stored name has blanks around it
INSERT INTO zclass (class_id, family_id, name, position) VALUES
  (301, 3, 'Vehicle', 1),
  (302, 3, 'Truck', 2),
  (303, 3, 'Depot', 3);
INSERT INTO zsuperclass (class_id, super_id, position) VALUES (302, 301, 1);
INSERT INTO zproperty (property_id, class_id, name, position, level, type_code, description) VALUES
  (7001, 301, 'Plate', 1, 'I', 5, 'Registration plate'),
  (7002, 301, 'Photo', 2, 'I', 9, ''),
  (7003, 301, 'Telemetry', 3, 'I', 6, 'Raw tracker data'),
  (7004, 302, 'Payload', 1, 'I', 4, 'Tonnes'),
  (7005, 301, 'FleetSize', 4, 'C', 2, '');
INSERT INTO zmethod (method_id, class_id, name, position, level, type_code) VALUES
  (8001, 301, 'Service', 1, 'I', 0),
  (8002, 301, 'NextPlate', 2, 'C', 5);

-- Library Third, state three: the Revised Edition with one rename and one pull-up
INSERT INTO zclass (class_id, family_id, name, position) VALUES
  (501, 5, 'LibraryItem', 1),
  (502, 5, 'Book', 2),
  (509, 5, 'Periodical', 3),
  (503, 5, 'Magazine', 4),
  (505, 5, 'Member', 5),
  (506, 5, 'Loan', 6),
  (507, 5, 'Archive', 7),
  (508, 5, 'RareBook', 8);
INSERT INTO zsuperclass (class_id, super_id, position) VALUES
  (502, 501, 1), (509, 501, 1), (503, 509, 1), (508, 502, 1), (508, 507, 2);
INSERT INTO zproperty (property_id, class_id, name, position, level, type_code, is_mandatory, is_unique, description, precision, scale) VALUES
  (9001, 501, 'Title', 1, 'I', 5, 1, 0, 'Title as printed', 120, 0),
  (9002, 501, 'ItemId', 2, 'I', 3, 1, 1, 'Catalogue number', 12, 0),
  (9003, 501, 'Created', 3, 'I', 10, 0, 0, 'Date catalogued', 0, 0),
  (9004, 501, 'ItemCount', 4, 'I', 2, 0, 0, 'Items in the catalogue', 10, 0),
  (9005, 502, 'Isbn', 1, 'I', 5, 0, 1, '', 13, 0),
  (9007, 502, 'Authors', 2, 'I', 8, 0, 0, 'Names of the authors', 0, 0),
  (9008, 502, 'Checksum', 3, 'I', 11, 0, 0, 'Type unknown to the tool', 0, 0),
  (9018, 502, 'Edition', 4, 'I', 2, 0, 0, '', 3, 0),
  (9019, 509, 'Frequency', 1, 'C', 5, 0, 0, 'Issues per year', 20, 0),
  (9009, 509, 'IssueNo', 2, 'I', 2, 0, 0, '', 6, 0),
  (9010, 503, 'Cover', 1, 'I', 9, 0, 0, 'Scanned cover', 0, 0),
  (9012, 505, 'Name', 1, 'I', 5, 1, 0, '', 60, 0),
  (9013, 505, 'JoinedOn', 2, 'I', 10, 0, 0, '', 0, 0),
  (9014, 505, 'Rating', 3, 'I', 4, 0, 0, '', 0, 0),
  (9015, 506, 'Item', 1, 'I', 7, 1, 0, '', 0, 0),
  (9016, 506, 'Borrower', 2, 'I', 7, 1, 0, '', 0, 0),
  (9017, 506, 'DueDate', 3, 'I', 10, 0, 0, '', 0, 0);
UPDATE zproperty SET is_set = 1 WHERE type_code = 8;
INSERT INTO zmethod (method_id, class_id, name, position, level, type_code, description) VALUES
  (9501, 501, 'Describe', 1, 'I', 5, 'One-line description'),
  (9502, 501, 'Count', 2, 'C', 2, 'Items in the catalogue'),
  (9503, 502, 'Borrow', 1, 'I', 1, ''),
  (9504, 505, 'Fine', 1, 'C', 4, 'Fine owed'),
  (9505, 506, 'Renew', 1, 'I', 1, ''),
  (9506, 506, 'Overdue', 2, 'I', 1, '');
INSERT INTO zparameter (parameter_id, method_id, name, position, type_code, precision, scale, default_value) VALUES
  (9601, 9503, 'Borrower', 1, 7, 0, 0, ''),
  (9602, 9503, 'Days', 2, 2, 3, 0, '21'),
  (9603, 9505, 'Days', 1, 2, 3, 0, '7'),
  (9604, 9504, 'AsOf', 1, 10, 0, 0, '');

INSERT INTO zquery (query_id, name, query_text) VALUES
  (1, 'Books', 'Library : *Book*'),
  (2, 'Fleet', 'Fleet : *');
